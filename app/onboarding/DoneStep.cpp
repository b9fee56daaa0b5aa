#include "onboarding/DoneStep.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "onboarding/OnboardingHost.h"
#include "onboarding/OnboardingTexts.h"
#include "onboarding/Point.h"
#include "onboarding/StepHeader.h"
#include "ui/PlainText.h"
#include "ui/StepStyle.h"

namespace keldwick {

namespace {

// The could-move-now box: the faint rounded panel of the guide's rows.
class Panel final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override { style::paintPanel(this); }
};

}  // namespace

DoneStep::DoneStep(OnboardingHost& host, QWidget* parent) : QWidget(parent), host_(host) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);
    header_ = new StepHeader("check-filled", QStringLiteral("You're all set"), QString(), this);
    layout->addWidget(header_);
    level_ = new Point("gauge", QString(), QString(), this);
    layout->addWidget(level_);
    keep_ = new Point("drive", QString(), QString(), this);
    layout->addWidget(keep_);

    box_ = new Panel(this);
    auto* row = new QHBoxLayout(box_);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(12);
    row->addWidget(style::symbolLabel("history", 28, box_));
    movable_ = plainLabel(QString(), box_, true);
    row->addWidget(movable_, 1);
    row->addSpacing(8);
    review_ = new QPushButton(QStringLiteral("Review Files\u2026"), box_);
    review_->setAutoDefault(false);
    row->addWidget(review_);
    layout->addWidget(box_);
    layout->addStretch();
    connect(review_, &QPushButton::clicked, this, &DoneStep::reviewRequested);

    OnboardingModel& model = host_.onboarding();
    for (auto signal : {&OnboardingModel::driveChanged, &OnboardingModel::keepFreeBytesChanged,
                        &OnboardingModel::movableBytesChanged})
        connect(&model, signal, this, &DoneStep::render);
    connect(&host_, &OnboardingHost::stateChanged, this, &DoneStep::render);
    render();
}

void DoneStep::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    host_.estimateMovable();
}

void DoneStep::hideEvent(QHideEvent* event) {
    host_.cancelEstimate();
    QWidget::hideEvent(event);
}

void DoneStep::render() {
    const OnboardingModel& model = host_.onboarding();
    const DoneTexts texts = doneTexts(host_.state(), model.drive(), model.keepFreeBytes(), model.movableBytes());
    header_->setText(QString::fromStdString(texts.headerText));
    level_->setTitle(QString::fromStdString(texts.levelTitle));
    level_->setText(QString::fromStdString(texts.levelText));
    keep_->setTitle(QString::fromStdString(texts.keepTitle));
    keep_->setText(QString::fromStdString(texts.keepText));
    box_->setVisible(texts.movableText.has_value());
    if (texts.movableText) movable_->setText(QString::fromStdString(*texts.movableText));
}

}  // namespace keldwick
