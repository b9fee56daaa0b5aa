#include <QAccessible>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>

#include "ui/DriveRow.h"

namespace keldwick {
namespace {

constexpr int64_t GB = 1'000'000'000;

TEST(DriveRowTest, Texts) {
    DriveOption plain;
    plain.volume.name = "Backup";
    plain.volume.fileSystem = "exfat";
    plain.volume.availableBytes = 400 * GB;
    plain.volume.totalBytes = 1000 * GB;
    DriveOption usb = plain;
    usb.hardware = DriveHardware(DriveHardware::Medium::solidState, "USB", std::nullopt, "Acme", "Portable",
                                 10'000'000'000);
    DriveOption marked = plain;  // marked by a pick, nothing moved to it yet
    marked.existing = Drive{"6F1C2A5E-0000-4000-8000-000000000001", "Backup"};
    DriveOption used = marked;
    used.usedBefore = true;
    DriveOption broken = used;
    broken.problems = {DriveProblem::readOnly()};

    EXPECT_EQ(driveRowSpaceText(plain.volume), "400 GB free of 1.00 TB");
    EXPECT_EQ(driveRowHelp(plain), "EXFAT");
    EXPECT_EQ(driveRowHelp(usb), "EXFAT \u00b7 USB 3 (10 Gb/s) \u00b7 Acme Portable");
    struct Case {
        const DriveOption* option;
        bool usedBefore;
        bool problem;
    };
    for (const auto& c : {Case{&plain, false, false}, Case{&marked, false, false}, Case{&used, true, false},
                          Case{&broken, false, true}}) {
        EXPECT_EQ(driveRowShowsUsedBefore(*c.option), c.usedBefore);
        EXPECT_EQ(driveRowProblemText(*c.option).has_value(), c.problem);
    }
    EXPECT_EQ(driveRowProblemText(broken), DriveProblem::readOnly().explanation());
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


TEST(DriveRowTest, OffersOnlyWhatTheDriveAllows) {
    DriveOption usable = option("<b>Backup</b>");
    DriveOption used = usable;
    used.existing = Drive{"6F1C2A5E-0000-4000-8000-000000000001", "Backup"};
    used.usedBefore = true;  // this computer's records are on it
    used.usedBefore = true;
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


// A screen reader meets a row as one element saying the drive, its space and its status,
// holding only its button, whose name says which drive it chooses.
TEST(DriveRowTest, ReadsAsOneElementWhoseButtonNamesItsDrive) {
    DriveOption usable = option("Backup");
    DriveOption used = usable;
    used.existing = Drive{"6F1C2A5E-0000-4000-8000-000000000001", "Backup"};
    used.usedBefore = true;  // this computer's records are on it
    DriveOption broken = usable;
    broken.problems = {DriveProblem::readOnly()};
    const std::string space = "Backup, 400 GB free of 1.00 TB";
    struct Case {
        const char* name;
        const DriveOption* option;
        bool chosen;
        std::string reading;
    };
    const Case cases[] = {
        {"usable", &usable, false, space},
        {"chosen", &usable, true, space + ", Chosen"},
        {"used before", &used, false,
         space + ", Keldwick has used this drive before. It will pick up where it left off."},
        {"problem", &broken, false, space + ", " + DriveProblem::readOnly().explanation()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(driveRowAccessibleName(*c.option, c.chosen), c.reading);
        DriveRow row(*c.option, c.chosen, {});
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&row);
        ASSERT_NE(face, nullptr);
        EXPECT_EQ(face->role(), QAccessible::ListItem);
        EXPECT_EQ(face->text(QAccessible::Name).toStdString(), c.reading);
        ASSERT_EQ(face->childCount(), row.chooseButton() ? 1 : 0);
        if (!row.chooseButton()) continue;
        EXPECT_EQ(row.chooseButton()->text(), "Use This Drive");
        EXPECT_EQ(face->child(0)->text(QAccessible::Name), QString::fromUtf8("Use \u201cBackup\u201d"));
        EXPECT_EQ(face->indexOfChild(face->child(0)), 0);
        EXPECT_EQ(face->child(0)->parent()->object(), &row);
    }
}

}  // namespace
}  // namespace keldwick
