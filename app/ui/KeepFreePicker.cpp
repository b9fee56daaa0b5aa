#include "ui/KeepFreePicker.h"

#include <QButtonGroup>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

#include "model/DisplayTexts.h"
#include "ui/PlainText.h"
#include "scanning/AppSettings.h"

namespace keldwick {

namespace {
constexpr int64_t kGigabyte = 1'000'000'000;
}

std::vector<int64_t> keepFreeChoices(int64_t current) {
    std::vector<int64_t> choices = AppSettings::freeSpaceChoices();
    if (std::find(choices.begin(), choices.end(), current) == choices.end()) choices.push_back(current);
    return choices;
}

std::string keepFreeCaption(int64_t bytes) {
    const char* words = "your own amount";
    switch (bytes / kGigabyte) {
        case 10: words = "enough for everyday use"; break;
        case 20: words = "recommended: room for updates and new downloads"; break;
        case 50: words = "for big projects, video editing or games"; break;
        default: break;
    }
    return "**" + gigabytesText(bytes) + "** \u2014 " + words;
}

namespace {

// A radio button can't show bold text, so each row's caption is a Markdown label beside
// an empty button; clicking the caption picks the row like clicking the button.
class Caption final : public QLabel {
public:
    Caption(const QString& markdown, QRadioButton* radio, QWidget* parent) : QLabel(parent), radio_(radio) {
        setTextFormat(Qt::MarkdownText);
        setMarkdownText(this, markdown);
        setBuddy(radio);
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        QLabel::mouseReleaseEvent(event);
        if (radio_->isEnabled() && !radio_->isChecked()) radio_->click();
    }

private:
    QRadioButton* radio_;
};

}  // namespace

KeepFreePicker::KeepFreePicker(int64_t selection, QWidget* parent)
    : QWidget(parent), selection_(selection), group_(new QButtonGroup(this)), layout_(new QVBoxLayout(this)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(6);
    setAccessibleName(QStringLiteral("Keep at least this much free:"));
    rebuild();
}

void KeepFreePicker::setSelection(int64_t bytes) {
    if (bytes == selection_) return;
    selection_ = bytes;
    rebuild();
}

QString KeepFreePicker::caption(int row) const { return rows_.at(row).caption->text(); }

QRadioButton* KeepFreePicker::radio(int row) const { return rows_.at(row).radio; }

void KeepFreePicker::pick(int64_t bytes) {
    if (bytes == selection_) return;
    selection_ = bytes;
    // The picked row's click is still being handled: rows go once it returns.
    rebuild();
    emit selectionChanged(bytes);
}

void KeepFreePicker::rebuild() {
    const std::vector<int64_t> choices = keepFreeChoices(selection_);
    if (choices == choices_) {
        for (size_t i = 0; i < rows_.size(); ++i) rows_[i].radio->setChecked(choices_[i] == selection_);
        focusOnChecked();
        return;
    }
    for (const Row& row : rows_) {
        group_->removeButton(row.radio);
        row.radio->parentWidget()->hide();
        row.radio->parentWidget()->deleteLater();
    }
    rows_.clear();
    choices_ = choices;
    for (int64_t bytes : choices_) {
        auto* line = new QWidget(this);
        auto* h = new QHBoxLayout(line);
        h->setContentsMargins(0, 0, 0, 0);
        h->setSpacing(4);
        auto* radio = new QRadioButton(line);
        const QString markdown = QString::fromStdString(keepFreeCaption(bytes));
        radio->setAccessibleName(withoutMarkup(markdown));
        radio->setChecked(bytes == selection_);
        group_->addButton(radio);
        connect(radio, &QRadioButton::toggled, this, [this, bytes](bool on) {
            if (on) pick(bytes);
        });
        h->addWidget(radio);
        auto* caption = new Caption(markdown, radio, line);
        h->addWidget(caption, 1);
        layout_->addWidget(line);
        rows_.push_back({radio, caption});
    }
    focusOnChecked();
}

void KeepFreePicker::focusOnChecked() {
    // Tab into the group lands on the checked choice (the first when none is); the arrow
    // keys reach the others. Qt sorts this out only once a choice has had the focus.
    const bool anyChecked = std::any_of(rows_.begin(), rows_.end(), [](const Row& r) { return r.radio->isChecked(); });
    for (size_t i = 0; i < rows_.size(); ++i) {
        const bool stop = anyChecked ? rows_[i].radio->isChecked() : i == 0;
        rows_[i].radio->setFocusPolicy(stop ? Qt::StrongFocus : Qt::ClickFocus);
    }
}

}  // namespace keldwick
