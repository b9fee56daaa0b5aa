#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include "support/KeyboardWalk.h"
#include "ui/KeepFreePicker.h"

namespace keldwick {
namespace {

constexpr int64_t GB = 1'000'000'000;

TEST(KeepFreePickerTest, ChoicesAndCaptions) {
    struct Case {
        int64_t current;
        std::vector<int64_t> choices;
        std::string caption;
    };
    const Case cases[] = {
        {20 * GB, {10 * GB, 20 * GB, 50 * GB}, "**20 GB** \u2014 recommended: room for updates and new downloads"},
        {10 * GB, {10 * GB, 20 * GB, 50 * GB}, "**10 GB** \u2014 enough for everyday use"},
        {50 * GB, {10 * GB, 20 * GB, 50 * GB}, "**50 GB** \u2014 for big projects, video editing or games"},
        // Not a fixed choice: listed fourth, worded by its whole gigabytes.
        {10'500'000'000, {10 * GB, 20 * GB, 50 * GB, 10'500'000'000}, "**11 GB** \u2014 enough for everyday use"},
        {30 * GB, {10 * GB, 20 * GB, 50 * GB, 30 * GB}, "**30 GB** \u2014 your own amount"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(keepFreeChoices(c.current), c.choices) << c.current;
        EXPECT_EQ(keepFreeCaption(c.current), c.caption) << c.current;
    }
}


TEST(KeepFreePickerTest, RowsAndPicks) {
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

// Tab into the choices lands on the checked one, before and after a pick; the arrow keys
// move between them.
TEST(KeepFreePickerTest, TabLandsOnTheCheckedChoice) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* before = new QPushButton(QStringLiteral("Before"), &window);
    layout->addWidget(before);
    auto* picker = new KeepFreePicker(20 * GB, &window);
    layout->addWidget(picker);
    ASSERT_TRUE(test::activateForKeys(window));
    for (int checked : {1, 2}) {
        SCOPED_TRACE(checked);
        before->setFocus(Qt::TabFocusReason);
        QTest::keyClick(before, Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), picker->radio(checked));
        EXPECT_EQ(test::keyboardOrderProblem(window), "");
        picker->radio(checked)->setFocus(Qt::TabFocusReason);
        QTest::keyClick(picker->radio(checked), Qt::Key_Down);
    }
    EXPECT_EQ(picker->selection(), 50 * GB);
}

}  // namespace
}  // namespace keldwick
