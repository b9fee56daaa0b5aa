#include <gtest/gtest.h>

#include "foundation/Date.h"

using namespace keldwick;

TEST(DateTest, ISO8601RoundTripsWholeSecondsInUTC) {
    Date d{1714564800.75};
    EXPECT_EQ(d.iso8601(), "2024-05-01T12:00:00Z");
    EXPECT_EQ(Date::parseISO8601("2024-05-01T12:00:00Z")->secondsSince1970, 1714564800.0);
    EXPECT_EQ(Date::parseISO8601("2024-05-01T14:00:00+02:00")->secondsSince1970, 1714564800.0);
    EXPECT_DOUBLE_EQ(Date::parseISO8601("2024-05-01T12:00:00.5Z")->secondsSince1970, 1714564800.5);
    EXPECT_EQ(Date{-0.5}.iso8601(), "1969-12-31T23:59:59Z");
    EXPECT_FALSE(Date::parseISO8601("2024-05-01 12:00:00Z"));
    EXPECT_FALSE(Date::parseISO8601("2024-05-01T12:00:00"));
    EXPECT_FALSE(Date::parseISO8601("2024-13-01T12:00:00Z"));
    EXPECT_FALSE(Date::parseISO8601("2024-05-01T12:00:00Zjunk"));
}

TEST(DateTest, ReferenceDateIs2001) {
    EXPECT_EQ(Date::fromSecondsSince2001(0).iso8601(), "2001-01-01T00:00:00Z");
    EXPECT_DOUBLE_EQ(Date{1000000000.0}.secondsSince2001(), 1000000000.0 - 978307200.0);
}

// The calendar is computed here, not asked of the C library: leap years, the century
// rule, days past a month's end and a leap second run on as timegm(3) runs them.
TEST(DateTest, CalendarArithmeticAgreesWithUTC) {
    EXPECT_EQ(Date::parseISO8601("2024-02-29T00:00:00Z")->secondsSince1970, 1709164800.0);
    EXPECT_EQ(Date::parseISO8601("2023-02-29T00:00:00Z")->secondsSince1970, 1677628800.0);  // March 1
    EXPECT_EQ(Date::parseISO8601("2016-12-31T23:59:60Z")->secondsSince1970, 1483228800.0);
    EXPECT_EQ(Date{4107542400}.iso8601(), "2100-03-01T00:00:00Z");  // 2100 has no February 29
    EXPECT_EQ(Date{-2208988800}.iso8601(), "1900-01-01T00:00:00Z");
    EXPECT_EQ(Date{951868799.9}.iso8601(), "2000-02-29T23:59:59Z");
}
