#include "settings/SettingsForm.h"

#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/Brand.h"
#include "ui/PlainText.h"

namespace keldwick {

FormSection formSection(const QString& header, QWidget* parent) {
    FormSection section;
    section.widget = new QWidget(parent);
    auto* outer = new QVBoxLayout(section.widget);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(4);
    if (!header.isEmpty()) {
        QLabel* title = plainLabel(header, section.widget, true);
        QFont bold = title->font();
        bold.setBold(true);
        title->setFont(bold);
        outer->addWidget(title);
    }
    auto* frame = new QFrame(section.widget);
    frame->setFrameShape(QFrame::StyledPanel);
    section.body = new QVBoxLayout(frame);
    section.body->setContentsMargins(10, 8, 10, 8);
    section.body->setSpacing(8);
    outer->addWidget(frame);
    section.footer = secondaryLabel(QString(), section.widget, true);
    section.footer->hide();
    outer->addWidget(section.footer);
    return section;
}

void setFooter(FormSection& section, const QString& text) {
    section.footer->setText(text);
    section.footer->setVisible(!text.isEmpty());
}

namespace {

// Flips the box when its label is clicked.
class ClickFlips final : public QObject {
public:
    ClickFlips(QCheckBox* box, QObject* parent) : QObject(parent), box_(box) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease && box_->isEnabled()) box_->click();
        return QObject::eventFilter(watched, event);
    }

private:
    QCheckBox* box_;
};

}  // namespace

QCheckBox* wrappingSwitch(const QString& text, QWidget* parent, QVBoxLayout* into) {
    auto* row = new QHBoxLayout;
    auto* box = new QCheckBox(parent);
    box->setAccessibleName(text);
    QLabel* label = plainLabel(text, parent, true);
    label->installEventFilter(new ClickFlips(box, label));
    row->addWidget(box, 0, Qt::AlignTop);
    row->addWidget(label, 1);
    into->addLayout(row);
    return box;
}

QLabel* warningLabel(const QString& text, QWidget* parent) {
    QLabel* label = plainLabel(text, parent, true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, brandOrange());
    label->setPalette(palette);
    return label;
}

QLabel* markdownLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::MarkdownText);
    label->setWordWrap(true);
    setMarkdownText(label, text);
    return label;
}

}  // namespace keldwick
