#include "onboarding/StepHeader.h"

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/PlainText.h"
#include "ui/StepStyle.h"
#include "ui/Symbols.h"

namespace keldwick {

StepHeader::StepHeader(std::optional<std::string> systemImage, const QString& title, const QString& text,
                       QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 20);
    layout->setSpacing(10);
    if (systemImage) {
        icon_ = style::accentSymbolLabel(*systemImage, 40, this);
        icon_->setFixedHeight(52);
    } else {
        icon_ = new QLabel(this);
        icon_->setPixmap(programIcon().pixmap(80, 80));
        icon_->setAlignment(Qt::AlignCenter);
        icon_->setFixedHeight(80);
    }
    layout->addWidget(icon_);

    title_ = plainLabel(title, this, true);
    title_->setAlignment(Qt::AlignCenter);
    style::font(title_, 1.6, QFont::Bold);
    layout->addWidget(title_);

    text_ = plainLabel(text, this, true);
    text_->setAlignment(Qt::AlignCenter);
    style::secondary(text_);
    layout->addWidget(text_);
}

void StepHeader::setText(const QString& text) { text_->setText(text); }

QIcon StepHeader::programIcon() {
    QIcon icon = QIcon::fromTheme(QStringLiteral("keldwick"));
    if (icon.isNull()) icon = QApplication::windowIcon();
    if (icon.isNull()) icon = Symbols::icon("drive");
    return icon;
}

}  // namespace keldwick
