#include "onboarding/PermissionWindow.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "onboarding/OnboardingHost.h"
#include "onboarding/PermissionInstructions.h"
#include "onboarding/StepHeader.h"

namespace keldwick {

PermissionWindow::PermissionWindow(OnboardingHost& host, QWidget* parent)
    : QDialog(parent, Qt::Window), host_(host) {
    setWindowTitle(WindowRegistry::titleOf(AppWindow::permission));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(defaultWidth, defaultHeight);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 32, 32, 32);
    layout->setSpacing(0);
    layout->addWidget(new StepHeader("shield-lock", QStringLiteral("Let Keldwick reach your files"),
                                     QStringLiteral("Keldwick can't free up space until it can open your "
                                                    "folders. Here is what keeps it out:"),
                                     this));
    instructions_ = new PermissionInstructions(host, this);
    layout->addWidget(instructions_);
    layout->addStretch();
    layout->addSpacing(20);
    auto* row = new QHBoxLayout;
    row->addStretch();
    button_ = new QPushButton(this);
    row->addWidget(button_);
    layout->addLayout(row);
    connect(button_, &QPushButton::clicked, this, &QWidget::close);
    connect(&host_, &OnboardingHost::stateChanged, this, &PermissionWindow::render);
    render();
}

void PermissionWindow::render() {
    // Escape closes a dialog in either state; Return only once access is granted.
    const bool access = host_.state().canReadHome;
    button_->setText(access ? QStringLiteral("Done") : QStringLiteral("Close"));
    button_->setAutoDefault(access);
    button_->setDefault(access);
}

WindowRegistry::Entry permissionWindowEntry(OnboardingHost& host) {
    return {WindowRegistry::titleOf(AppWindow::permission), QSize(PermissionWindow::defaultWidth, PermissionWindow::defaultHeight),
            [&host] { return new PermissionWindow(host); }};
}

}  // namespace keldwick
