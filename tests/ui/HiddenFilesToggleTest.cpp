#include "ui/HiddenFilesToggle.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLayout>
#include <gtest/gtest.h>

namespace keldwick {
namespace {

TEST(HiddenFilesToggleTest, TheCheckboxShowsAndHidesDotEntries) {
    auto* panel = new QFileDialog;
    QDir::Filters before = panel->filter();
    auto* toggle = new HiddenFilesToggle(panel);
    QPointer<HiddenFilesToggle> alive(toggle);

    EXPECT_EQ(toggle->checkbox()->text(), "Show hidden files");
    EXPECT_EQ(toggle->view()->size(), QSize(220, 36));
    EXPECT_EQ(toggle->checkbox()->geometry(), QRect(12, 8, 200, 20));
    EXPECT_TRUE(panel->isAncestorOf(toggle->view()));
    EXPECT_GE(panel->layout()->indexOf(toggle->view()), 0);
    EXPECT_FALSE(toggle->checkbox()->isChecked());

    toggle->checkbox()->setChecked(true);
    EXPECT_TRUE(panel->filter().testFlag(QDir::Hidden));
    toggle->checkbox()->setChecked(false);
    EXPECT_FALSE(panel->filter().testFlag(QDir::Hidden));
    EXPECT_EQ(panel->filter(), before);  // only the hidden flag changes

    // The toggle lives exactly as long as its dialog.
    delete panel;
    EXPECT_TRUE(alive.isNull());
}

}  // namespace
}  // namespace keldwick
