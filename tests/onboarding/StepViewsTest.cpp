#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "onboarding/DriveRow.h"
#include "onboarding/KeepFreePicker.h"
#include "onboarding/NumberedStep.h"
#include "onboarding/Point.h"
#include "onboarding/StepHeader.h"

namespace keldwick {
namespace {

constexpr int64_t GB = 1'000'000'000;

TEST(StepViewsTest, DataInTitlesAndTextsStaysPlain) {
    StepHeader header("externaldrive", "Keep <b>Disk</b> plugged in", "x");
    EXPECT_EQ(header.titleLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(header.textLabel()->textFormat(), Qt::PlainText);
    StepHeader icon(std::nullopt, "Welcome to Keldwick", "");
    EXPECT_FALSE(icon.iconLabel()->pixmap().isNull()) << "without a symbol the program's icon shows";

    Point point("externaldrive", "Keep <i>X</i> plugged in", "text");
    EXPECT_EQ(point.titleLabel()->textFormat(), Qt::PlainText);
    point.setTitle("Keep Archive plugged in");
    EXPECT_EQ(point.accessibleName(), "Keep Archive plugged in, text");

    NumberedStep step(2, "Find **Keldwick** in the list.");
    EXPECT_EQ(step.textLabel()->textFormat(), Qt::MarkdownText);
    EXPECT_EQ(step.accessibleName(), "2. Find Keldwick in the list.");
}

DriveOption option(const std::string& name) {
    DriveOption o;
    o.volume.mountPath = "/media/u/" + name;
    o.volume.name = name;
    o.volume.fileSystem = "ext4";
    o.volume.availableBytes = 400 * GB;
    o.volume.totalBytes = 1000 * GB;
    return o;
}

TEST(StepViewsTest, DriveRowOffersOnlyWhatTheDriveAllows) {
    DriveOption usable = option("<b>Backup</b>");
    DriveOption used = usable;
    used.existing = Drive{"6F1C2A5E-0000-4000-8000-000000000001", "Backup"};
    DriveOption broken = used;
    broken.problems = {DriveProblem::readOnly()};
    struct Case {
        const char* name;
        const DriveOption* option;
        bool chosen;
        bool button, usedBefore, problem;
    };
    const Case cases[] = {
        {"usable", &usable, false, true, false, false},
        {"chosen", &usable, true, false, false, false},
        {"used before", &used, false, true, true, false},
        {"problem", &broken, false, false, false, true},
        // The drive in use is ticked, not warned about as if one were about to pick it.
        {"chosen despite a problem", &broken, true, false, false, false},
    };
    for (const auto& c : cases) {
        int picked = 0;
        DriveRow row(*c.option, c.chosen, [&] { ++picked; });
        EXPECT_EQ(row.chooseButton() != nullptr, c.button) << c.name;
        EXPECT_EQ(row.usedBeforeLabel() != nullptr, c.usedBefore) << c.name;
        EXPECT_EQ(row.problemLabel() != nullptr, c.problem) << c.name;
        if (row.chooseButton()) {
            QTest::mouseClick(row.chooseButton(), Qt::LeftButton);
            EXPECT_EQ(picked, 1) << c.name;
        }
        // The name is data: shown verbatim, and escaped in the tooltip.
        const auto labels = row.findChildren<QLabel*>();
        EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [](QLabel* l) {
            return l->text() == "<b>Backup</b>" && l->textFormat() == Qt::PlainText;
        })) << c.name;
        EXPECT_TRUE(row.toolTip().contains("EXT4")) << c.name;
    }
    DriveRow chosen(usable, true, {});
    const auto labels = chosen.findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [](QLabel* l) { return l->accessibleName() == "Chosen"; }));
}

TEST(StepViewsTest, KeepFreePickerRowsAndPicks) {
    KeepFreePicker picker(20 * GB);
    QSignalSpy picks(&picker, &KeepFreePicker::selectionChanged);
    ASSERT_EQ(picker.choices(), (std::vector<int64_t>{10 * GB, 20 * GB, 50 * GB}));
    EXPECT_TRUE(picker.radio(1)->isChecked());

    // A level set elsewhere is a fourth row, selected, announced to nobody.
    picker.setSelection(10'500'000'000);
    ASSERT_EQ(picker.choices().size(), 4u);
    EXPECT_TRUE(picker.radio(3)->isChecked());
    EXPECT_EQ(picker.caption(3), "**11 GB** \u2014 enough for everyday use");
    EXPECT_EQ(picks.count(), 0);

    // The user's pick is announced once; the level of one's own goes with it.
    picker.radio(2)->click();
    ASSERT_EQ(picks.count(), 1);
    EXPECT_EQ(picks.at(0).at(0).toLongLong(), 50 * GB);
    EXPECT_EQ(picker.selection(), 50 * GB);
    EXPECT_EQ(picker.choices().size(), 3u);
    EXPECT_TRUE(picker.radio(2)->isChecked());
    picker.setSelection(10 * GB);
    EXPECT_TRUE(picker.radio(0)->isChecked());
    EXPECT_EQ(picks.count(), 1);
}

}  // namespace
}  // namespace keldwick
