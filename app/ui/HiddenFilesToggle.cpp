#include "ui/HiddenFilesToggle.h"

#include "model/MainThread.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>

namespace keldwick {

HiddenFilesToggle::HiddenFilesToggle(QFileDialog* panel) : QObject(panel), panel_(panel) {
    assertMainThread();
    // Only Qt's own dialog takes extra widgets; the platform's would hide the checkbox.
    panel->setOption(QFileDialog::DontUseNativeDialog, true);
    view_ = new QWidget(panel);
    view_->setFixedSize(220, 36);
    checkbox_ = new QCheckBox(QStringLiteral("Show hidden files"), view_);
    checkbox_->setGeometry(12, 8, 200, 20);
    checkbox_->setChecked(panel->filter().testFlag(QDir::Hidden));
    connect(checkbox_, &QCheckBox::toggled, this, &HiddenFilesToggle::toggle);
    if (auto* grid = qobject_cast<QGridLayout*>(panel->layout())) {
        grid->addWidget(view_, grid->rowCount(), 0, 1, grid->columnCount());
    }
}

void HiddenFilesToggle::toggle(bool on) {
    assertMainThread();
    if (panel_ == nullptr) {
        return;
    }
    QDir::Filters filters = panel_->filter();
    filters.setFlag(QDir::Hidden, on);
    panel_->setFilter(filters);
}

}  // namespace keldwick
