#include "onboarding/PermissionWindow.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>

#include "onboarding/OnboardingHost.h"
#include "onboarding/PermissionInstructions.h"
#include "onboarding/StepHeader.h"
#include "ui/ScreenFit.h"

namespace keldwick {

namespace {
constexpr int margin = 32;
}

PermissionWindow::PermissionWindow(OnboardingHost& host, QWidget* parent)
    : QDialog(parent, Qt::Window), host_(host) {
    setWindowTitle(WindowRegistry::titleOf(AppWindow::permission));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, margin);
    outer->setSpacing(0);

    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The words scroll by the wheel or the scroll bar; Tab goes to what can be worked.
    scroll_->setFocusPolicy(Qt::NoFocus);
    content_ = new QWidget(scroll_);
    auto* layout = new QVBoxLayout(content_);
    layout->setContentsMargins(margin, margin, margin, 0);
    layout->setSpacing(0);
    layout->addWidget(new StepHeader("shield-lock", QStringLiteral("Let Keldwick reach your files"),
                                     QStringLiteral("Keldwick can't free up space until it can open your "
                                                    "folders. Here is what keeps it out:"),
                                     content_));
    instructions_ = new PermissionInstructions(host, content_);
    layout->addWidget(instructions_);
    layout->addStretch();
    scroll_->setWidget(content_);
    outer->addWidget(scroll_, 1);
    outer->addSpacing(20);

    auto* row = new QHBoxLayout;
    row->setContentsMargins(margin, 0, margin, 0);
    row->addStretch();
    button_ = new QPushButton(this);
    row->addWidget(button_);
    outer->addLayout(row);
    connect(button_, &QPushButton::clicked, this, &QWidget::close);
    connect(&host_, &OnboardingHost::stateChanged, this, &PermissionWindow::render);
    // After the instructions showed their answer.
    connect(instructions_->settingsButton(), &QPushButton::clicked, this, &PermissionWindow::fitContent);
    render();
}

QSize PermissionWindow::sizeHint() const {
    const int words = content_->layout()->totalHeightForWidth(defaultWidth);
    const int bar = 20 + button_->sizeHint().height() + margin;
    return {defaultWidth, std::max(defaultHeight, words + bar)};
}

void PermissionWindow::fitContent() {
    // Lines just shown or hidden: measure them, not what the layout remembered.
    content_->layout()->invalidate();
    const QSize wanted = sizeHint();
    setFixedSize(wanted.width(), heightOnScreen(*this, wanted.height()));
}

bool PermissionWindow::event(QEvent* event) {
    // A line shown or hidden, or another font or screen, changes the words' height.
    switch (event->type()) {
    case QEvent::LayoutRequest:
    case QEvent::FontChange:
    case QEvent::ScreenChangeInternal:
    case QEvent::Show: {
        const bool handled = QDialog::event(event);
        fitContent();
        return handled;
    }
    default:
        return QDialog::event(event);
    }
}

void PermissionWindow::render() {
    // Escape closes a dialog in either state; Return only once access is granted.
    const bool access = host_.state().canReadHome;
    button_->setText(access ? QStringLiteral("Done") : QStringLiteral("Close"));
    button_->setAutoDefault(access);
    button_->setDefault(access);
    fitContent();
}

WindowRegistry::Entry permissionWindowEntry(OnboardingHost& host) {
    // No first size: the window takes its own.
    return {WindowRegistry::titleOf(AppWindow::permission), QSize(), [&host] { return new PermissionWindow(host); }};
}

}  // namespace keldwick
