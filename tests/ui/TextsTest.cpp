#include <QLabel>
#include <QTextDocument>
#include <algorithm>
#include <gtest/gtest.h>
#include <unicode/locid.h>

#include "ui/PlainText.h"
#include "ui/RelativeDate.h"

namespace keldwick {
namespace {

TEST(PlainTextTest, NamesAreShownExactlyAsWritten) {
    const QString names[] = {
        QStringLiteral("<b>bold</b>.txt"), QStringLiteral("<img src=x onerror=y>"), QStringLiteral("a & b"),
        QStringLiteral("two\nlines"), QStringLiteral("  spaced  out  "), QStringLiteral("Café “quoted”"),
    };
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        QTextDocument tooltip;
        tooltip.setHtml(toolTipText(name));
        EXPECT_EQ(tooltip.toPlainText(), name);
        EXPECT_TRUE(Qt::mightBeRichText(toolTipText(name)));  // so Qt never guesses plain from the markup

        std::unique_ptr<QLabel> label(plainLabel(name));
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
        EXPECT_EQ(label->text(), name);
    }
    EXPECT_EQ(toolTipText(QString()), QString());
    EXPECT_EQ(quoted(QStringLiteral("Photos")), QStringLiteral("\u201cPhotos\u201d"));
    EXPECT_EQ(fromPath("/home/u/Caf\xc3\xa9"), QStringLiteral("/home/u/Café"));
}

TEST(RelativeDateTest, AbbreviatedDatesFollowTheLocale) {
    // Noon in Greenwich: the same day in every time zone a test machine may have.
    const Date noon{1'772'366'400};  // 2026-03-01T12:00:00Z
    EXPECT_EQ(abbreviatedDateText(noon, false, "en_US"), "Mar 1, 2026");
    EXPECT_EQ(abbreviatedDateText(noon, false, "de_DE"), "01.03.2026");
    const std::string withTime = abbreviatedDateText(noon, true, "en_US");
    EXPECT_TRUE(withTime.starts_with("Mar 1, 2026")) << withTime;
    // The short time: hours and minutes, no seconds.
    EXPECT_EQ(std::count(withTime.begin(), withTime.end(), ':'), 1) << withTime;
}

TEST(RelativeDateTest, TheLargestWholeUnitInNamedForm) {
    const Date now{1'700'000'000};
    constexpr double minute = 60, hour = 3600, day = 86400;
    struct Case {
        double secondsAgo;  // negative: in the future
        const char* relative;
        const char* lastRun;
    };
    const Case cases[] = {
        {0, "now", "Just now"},
        {59, "59 seconds ago", "Just now"},
        {-59, "in 59 seconds", "Just now"},
        {60, "1 minute ago", "1 minute ago"},
        {5 * minute + 30, "5 minutes ago", "5 minutes ago"},
        {90 * minute, "1 hour ago", "1 hour ago"},
        {23 * hour, "23 hours ago", "23 hours ago"},
        {day, "yesterday", "Yesterday"},
        {2 * day, "2 days ago", "2 days ago"},
        {7 * day, "last week", "Last week"},
        {20 * day, "2 weeks ago", "2 weeks ago"},
        {30 * day, "last month", "Last month"},
        {200 * day, "6 months ago", "6 months ago"},
        {365 * day, "last year", "Last year"},
        {3 * 365 * day, "3 years ago", "3 years ago"},
        {-2 * hour, "in 2 hours", "In 2 hours"},
        {-day, "tomorrow", "Tomorrow"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.secondsAgo);
        const Date date = now.adding(-c.secondsAgo);
        EXPECT_EQ(relativeDateText(date, now, "en_US"), c.relative);
        EXPECT_EQ(lastRunText(date, now, "en_US"), c.lastRun);
    }
    // Another locale's words, with its first letter upper-cased.
    EXPECT_EQ(lastRunText(now.adding(-day), now, "de_DE"), "Gestern");
    // Unasked, the interface's own language, whatever the user's locale.
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale before = icu::Locale::getDefault();
    icu::Locale::setDefault(icu::Locale("de_DE"), status);
    ASSERT_TRUE(U_SUCCESS(status));
    EXPECT_EQ(relativeDateText(now.adding(-4 * minute), now), "4 minutes ago");
    // Dates too: English words in the German order.
    const Date noon{1'772'366'400};
    EXPECT_EQ(abbreviatedDateText(noon, false), "1 Mar 2026");
    icu::Locale::setDefault(before, status);
}

}  // namespace
}  // namespace keldwick
