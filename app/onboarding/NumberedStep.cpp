#include "onboarding/NumberedStep.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

#include "ui/PlainText.h"

namespace keldwick {

namespace {

// The number on a filled circle.
class Badge final : public QWidget {
public:
    Badge(int number, QWidget* parent) : QWidget(parent), number_(number) { setFixedSize(22, 22); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(palette().color(QPalette::Highlight));
        painter.drawEllipse(rect());
        QFont f = font();
        f.setBold(true);
        painter.setFont(f);
        painter.setPen(Qt::white);
        painter.drawText(rect(), Qt::AlignCenter, QString::number(number_));
    }

private:
    int number_;
};

}  // namespace

NumberedStep::NumberedStep(int number, const QString& markdown, QWidget* parent)
    : QWidget(parent), number_(number) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    row->addWidget(new Badge(number, this), 0, Qt::AlignTop);
    text_ = new QLabel(this);
    text_->setTextFormat(Qt::MarkdownText);
    text_->setWordWrap(true);
    setMarkdownText(text_, markdown);
    // A step may hold a command to copy into a terminal.
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row->addWidget(text_, 1);
    // One element for accessibility: the words without their markup.
    setAccessibleName(QString::number(number) + QStringLiteral(". ") + withoutMarkup(markdown));
}

}  // namespace keldwick
