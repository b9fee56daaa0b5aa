#include "onboarding/PermissionInstructions.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "onboarding/NumberedStep.h"
#include "onboarding/OnboardingHost.h"
#include "onboarding/OnboardingTexts.h"
#include "ui/Brand.h"
#include "ui/PlainText.h"
#include "ui/StepStyle.h"

namespace keldwick {

PermissionInstructions::PermissionInstructions(OnboardingHost& host, QWidget* parent)
    : QWidget(parent), host_(host) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);

    steps_ = new QWidget(this);
    auto* steps = new QVBoxLayout(steps_);
    steps->setContentsMargins(0, 0, 0, 0);
    steps->setSpacing(14);
    int number = 0;
    steps->addWidget(new NumberedStep(
        ++number,
        QStringLiteral("A folder's own permissions can keep Keldwick out. Click **Show the Folder** below and, in its "
                       "**Properties**, let yourself open it."),
        steps_));
    // Only a sandbox's own command lets it in, and only there is it worth a step.
    if (const auto sandboxStep = sandboxStepText(host.sandbox()))
        steps->addWidget(new NumberedStep(++number, QString::fromStdString(*sandboxStep), steps_));
    steps->addWidget(new NumberedStep(++number, QStringLiteral("Come back here. This page updates by itself."), steps_));
    settingsButton_ = new QPushButton(QStringLiteral("Show the Folder"), steps_);
    settingsButton_->setAutoDefault(false);
    style::font(settingsButton_, 1.1, QFont::Normal);
    settingsButton_->setMinimumHeight(32);
    steps->addSpacing(4);
    steps->addWidget(settingsButton_, 0, Qt::AlignLeft);
    blocked_ = plainLabel(QString(), steps_, true);
    blocked_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    blocked_->hide();
    steps->addWidget(blocked_);
    layout->addWidget(steps_);
    connect(settingsButton_, &QPushButton::clicked, this, &PermissionInstructions::openSettings);

    QLabel* grantedText = nullptr;
    granted_ = style::symbolRow("check-filled", QStringLiteral("Done \u2014 Keldwick can reach your files."),
                                this, successGreen(), &grantedText);
    style::font(grantedText, 1.25, QFont::Medium);
    layout->addWidget(granted_);
    refusedNote_ = plainLabel(QString(), this, true);
    refusedNote_->hide();
    layout->addWidget(refusedNote_);

    auto* privacy = style::symbolRow(
        "hand",
        QStringLiteral("Your files never leave your computer, except to go to your own drive. Nothing is uploaded."), this);
    privacy->setContentsMargins(0, 6, 0, 0);
    layout->addWidget(privacy);

    probe_.setInterval(1000);
    connect(&probe_, &QTimer::timeout, &host_, &OnboardingHost::refreshHomeAccess);
    connect(&host_, &OnboardingHost::stateChanged, this, &PermissionInstructions::render);
    render();
}

void PermissionInstructions::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    host_.refreshHomeAccess();
    probe_.start();
    render();
}

void PermissionInstructions::hideEvent(QHideEvent* event) {
    probe_.stop();
    QWidget::hideEvent(event);
}

void PermissionInstructions::render() {
    const bool access = host_.state().canReadHome;
    steps_->setVisible(!access);
    granted_->setVisible(access);
    const auto note = refusedByModeNote(host_.state().foldersRefusedByMode, host_.state().home);
    refusedNote_->setText(QString::fromStdString(note.value_or("")));
    refusedNote_->setVisible(note.has_value());
}

void PermissionInstructions::openSettings() {
    // No folder refuses (a sandbox hides folders instead), or nothing could show it: say so.
    const auto answer = showFolderAnswer(host_.openAccessSettings(), host_.state().home, host_.sandbox());
    blocked_->setText(QString::fromStdString(answer.value_or("")));
    blocked_->setVisible(answer.has_value());
}

}  // namespace keldwick
