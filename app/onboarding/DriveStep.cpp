#include "onboarding/DriveStep.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "onboarding/OnboardingHost.h"
#include "onboarding/OnboardingTexts.h"
#include "onboarding/Point.h"
#include "onboarding/StepHeader.h"
#include "ui/Brand.h"
#include "ui/DriveRow.h"
#include "ui/PlainText.h"
#include "ui/StepStyle.h"

namespace keldwick {

DriveStep::DriveStep(OnboardingHost& host, QWidget* parent) : QWidget(parent), host_(host) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(new StepHeader("drive", QStringLiteral("Choose your drive"),
                                     QStringLiteral("Plug in the external drive you want to use. Keldwick keeps your "
                                                    "files in a folder called \u201cKeldwick\u201d on it, and leaves "
                                                    "everything else on the drive alone."),
                                     this));
    empty_ = style::symbolRow("cable",
                              QStringLiteral("No drive found. Plug in your external drive and it will show up here."),
                              this);
    empty_->setContentsMargins(0, 8, 0, 8);
    layout->addWidget(empty_);
    layout->addWidget(createList());
    layout->addWidget(createMeasuring());
    ready_ = new Point("check-filled", QString(), QString(), this);
    layout->addWidget(ready_);
    error_ = style::symbolRow("warning-filled", QString(), this, brandOrange(), &errorText_);
    layout->addWidget(error_);
    layout->addStretch();

    OnboardingModel& model = host_.onboarding();
    for (auto signal : {&OnboardingModel::drivesChanged, &OnboardingModel::chosenDriveIDChanged,
                        &OnboardingModel::isMeasuringChanged, &OnboardingModel::isMarkingChanged})
        connect(&model, signal, this, &DriveStep::renderRows);
    for (auto signal : {&OnboardingModel::isMeasuringChanged, &OnboardingModel::driveChanged,
                        &OnboardingModel::profileChanged, &OnboardingModel::driveErrorChanged})
        connect(&model, signal, this, &DriveStep::renderStatus);
    connect(&host_, &OnboardingHost::volumesChanged, this, [this] { host_.refreshDrives(); });
    renderRows();
    renderStatus();
}

// The rows, as tall as their lines: the page takes the window's height, and the window
// scrolls the page when more drives are plugged in than fit.
QWidget* DriveStep::createList() {
    auto* listArea = new QWidget(this);
    list_ = new QVBoxLayout(listArea);
    list_->setContentsMargins(0, 0, 0, 0);
    list_->setSpacing(8);
    return listArea;
}

// The line shown while the chosen drive's speed is measured.
QWidget* DriveStep::createMeasuring() {
    measuring_ = new QWidget(this);
    auto* progress = new QHBoxLayout(measuring_);
    progress->setContentsMargins(0, 0, 0, 0);
    progress->setSpacing(8);
    auto* spinner = new QProgressBar(measuring_);
    spinner->setRange(0, 0);  // no end known: it only shows that work goes on
    spinner->setTextVisible(false);
    spinner->setFixedSize(60, 10);
    progress->addWidget(spinner);
    auto* checking = plainLabel(QString::fromStdString(driveStepStatus(true, {}, {}, {}).title), measuring_);
    style::secondary(checking);
    progress->addWidget(checking, 1);
    return measuring_;
}

void DriveStep::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    host_.refreshDrives();
}

void DriveStep::renderRows() {
    const OnboardingModel& model = host_.onboarding();
    // A row's own button may have brought us here: rows go once it returns.
    for (DriveRow* row : rows_) {
        row->hide();
        row->deleteLater();
    }
    rows_.clear();
    for (const DriveOption& option : model.drives()) {
        const bool chosen = model.chosenDriveID() == option.id();
        auto* row = new DriveRow(option, chosen, [this, option] { host_.choose(option); }, list_->parentWidget());
        row->setEnabled(!model.isMeasuring() && !model.isMarking());
        list_->addWidget(row);
        rows_.push_back(row);
    }
    empty_->setVisible(model.drives().empty());
}

void DriveStep::renderStatus() {
    const OnboardingModel& model = host_.onboarding();
    const DriveStepStatus status =
        driveStepStatus(model.isMeasuring(), model.measuredName(), model.profile(), model.driveError());
    measuring_->setVisible(status.kind == DriveStepStatus::Kind::measuring);
    ready_->setVisible(status.kind == DriveStepStatus::Kind::ready);
    error_->setVisible(status.kind == DriveStepStatus::Kind::failed);
    if (status.kind == DriveStepStatus::Kind::ready) {
        ready_->setTitle(QString::fromStdString(status.title));
        ready_->setText(QString::fromStdString(status.text));
    }
    if (status.kind == DriveStepStatus::Kind::failed) errorText_->setText(QString::fromStdString(status.title));
}

}  // namespace keldwick
