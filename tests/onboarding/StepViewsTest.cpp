#include <QLabel>
#include <gtest/gtest.h>

#include "onboarding/NumberedStep.h"
#include "onboarding/Point.h"
#include "onboarding/StepHeader.h"

namespace keldwick {
namespace {

TEST(StepViewsTest, DataInTitlesAndTextsStaysPlain) {
    StepHeader header("drive", "Keep <b>Disk</b> plugged in", "x");
    EXPECT_EQ(header.titleLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(header.textLabel()->textFormat(), Qt::PlainText);
    StepHeader icon(std::nullopt, "Welcome to Keldwick", "");
    EXPECT_FALSE(icon.iconLabel()->pixmap().isNull()) << "without a symbol the program's icon shows";

    Point point("drive", "Keep <i>X</i> plugged in", "text");
    EXPECT_EQ(point.titleLabel()->textFormat(), Qt::PlainText);
    point.setTitle("Keep Archive plugged in");
    EXPECT_EQ(point.accessibleName(), "Keep Archive plugged in, text");

    NumberedStep step(2, "Find **Keldwick** in the list.");
    EXPECT_EQ(step.textLabel()->textFormat(), Qt::MarkdownText);
    EXPECT_EQ(step.accessibleName(), "2. Find Keldwick in the list.");
}

}  // namespace
}  // namespace keldwick
