#include "onboarding/Point.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/PlainText.h"
#include "ui/StepStyle.h"

namespace keldwick {

Point::Point(const std::string& systemImage, const QString& title, const QString& text, QWidget* parent)
    : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(14);
    auto* icon = style::accentSymbolLabel(systemImage, 22, this);
    icon->setFixedWidth(32);
    icon->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    row->addWidget(icon, 0, Qt::AlignTop);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    title_ = plainLabel(title, this, true);
    style::font(title_, 1.0, QFont::DemiBold);
    texts->addWidget(title_);
    text_ = plainLabel(text, this, true);
    style::secondary(text_);
    texts->addWidget(text_);
    row->addLayout(texts, 1);
    describe();
}

void Point::setTitle(const QString& title) {
    title_->setText(title);
    describe();
}

void Point::setText(const QString& text) {
    text_->setText(text);
    describe();
}

void Point::describe() { setAccessibleName(title_->text() + QStringLiteral(", ") + text_->text()); }

}  // namespace keldwick
