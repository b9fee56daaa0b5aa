#include "onboarding/OnboardingWindow.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "onboarding/DoneStep.h"
#include "onboarding/DriveStep.h"
#include "onboarding/OnboardingHost.h"
#include "onboarding/OnboardingTexts.h"
#include "onboarding/PermissionStep.h"
#include "onboarding/SpaceStep.h"
#include "onboarding/WelcomeStep.h"
#include "ui/Divider.h"

namespace keldwick {

OnboardingWindow::OnboardingWindow(OnboardingHost& host, QWidget* parent)
    : QDialog(parent, Qt::Window), host_(host) {
    setWindowTitle(WindowRegistry::titleOf(AppWindow::onboarding));
    setAttribute(Qt::WA_DeleteOnClose);
    // At least its first size; larger for a page that is longer, though the page scrolls.
    setMinimumSize(defaultWidth, defaultHeight);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // A page taller than the window (many folders, a large font) scrolls.
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The page scrolls to the control Tab reaches; the area itself is no stop.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll_ = scroll;
    auto* area = new QWidget(scroll);
    auto* centred = new QHBoxLayout(area);
    centred->setContentsMargins(0, 36, 0, 0);
    centred->addStretch();
    auto* column = new QWidget(area);
    column->setFixedWidth(460);
    area_ = new QVBoxLayout(column);
    area_->setContentsMargins(0, 0, 0, 0);
    centred->addWidget(column);
    centred->addStretch();
    scroll->setWidget(area);
    layout->addWidget(scroll, 1);
    layout->addWidget(divider(this));

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(20, 14, 20, 14);
    back_ = new QPushButton(QStringLiteral("Back"), this);
    later_ = new QPushButton(QStringLiteral("Do This Later"), this);
    primary_ = new QPushButton(this);
    for (QPushButton* button : {back_, later_}) button->setAutoDefault(false);
    // Return presses the primary button on every page.
    primary_->setDefault(true);
    bar->addWidget(back_);
    bar->addStretch();
    bar->addWidget(later_);
    bar->addWidget(primary_);
    layout->addLayout(bar);
    connect(back_, &QPushButton::clicked, this, [this] { move(-1); });
    connect(later_, &QPushButton::clicked, this, [this] { move(+1); });
    connect(primary_, &QPushButton::clicked, this, &OnboardingWindow::primaryPressed);

    OnboardingModel& model = host_.onboarding();
    connect(&model, &OnboardingModel::stepChanged, this, &OnboardingWindow::showPage);
    // What the primary button's state depends on.
    for (auto signal : {&OnboardingModel::isMeasuringChanged, &OnboardingModel::isMarkingChanged,
                        &OnboardingModel::driveChanged, &OnboardingModel::profileChanged, &OnboardingModel::foldersChanged})
        connect(&model, signal, this, &OnboardingWindow::renderBar);
    connect(&host_, &OnboardingHost::stateChanged, this, &OnboardingWindow::renderBar);
    showPage();
}

void OnboardingWindow::move(int offset) {
    if (auto step = movedStep(host_.onboarding().step(), offset)) host_.onboarding().setStep(*step);
}

void OnboardingWindow::showPage() {
    const OnboardingModel::Step step = host_.onboarding().step();
    if (page_ && step == pageStep_) return;
    // The button that moved the guide may belong to the old page: it goes once that returns.
    if (page_) {
        page_->hide();
        page_->deleteLater();
    }
    pageStep_ = step;
    QWidget* column = area_->parentWidget();
    switch (step) {
        case OnboardingModel::Step::welcome: page_ = new WelcomeStep(column); break;
        case OnboardingModel::Step::homeAccess: page_ = new PermissionStep(host_, column); break;
        case OnboardingModel::Step::drive: page_ = new DriveStep(host_, column); break;
        case OnboardingModel::Step::space: page_ = new SpaceStep(host_, column); break;
        case OnboardingModel::Step::done: {
            auto* done = new DoneStep(host_, column);
            connect(done, &DoneStep::reviewRequested, this, [this] { finish(true); });
            page_ = done;
            break;
        }
    }
    area_->addWidget(page_);
    page_->show();
    renderBar();
}

void OnboardingWindow::renderBar() {
    const OnboardingModel& model = host_.onboarding();
    const OnboardingBar bar = onboardingBar(model.step(), model.canContinue(), host_.state().canReadHome);
    back_->setVisible(bar.showsBack);
    later_->setVisible(bar.showsLater);
    primary_->setText(QString::fromStdString(bar.primaryTitle));
    primary_->setEnabled(bar.primaryEnabled);
}

void OnboardingWindow::primaryPressed() {
    if (host_.onboarding().step() == OnboardingModel::Step::done) {
        finish(false);
        return;
    }
    // The drive becomes the drive here, not when it was tried: the guide moves on once
    // it is marked.
    if (host_.onboarding().step() == OnboardingModel::Step::drive) {
        host_.confirmDrive();
        return;
    }
    move(+1);
}

void OnboardingWindow::finish(bool review) {
    const auto problem = host_.finish();
    close();
    if (review) host_.openPreview();
    if (problem) host_.showLoginItemProblem(*problem);
}

WindowRegistry::Entry onboardingWindowEntry(OnboardingHost& host) {
    return {WindowRegistry::titleOf(AppWindow::onboarding), QSize(OnboardingWindow::defaultWidth, OnboardingWindow::defaultHeight),
            [&host] { return new OnboardingWindow(host); }};
}

}  // namespace keldwick
