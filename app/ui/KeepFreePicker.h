#pragma once
// The choice of how much free space the computer keeps: one radio row per fixed level,
// plus the current level as a fourth row when it is none of them, so an amount set
// elsewhere stays visible and selected. Only the user's pick is announced; setting the
// selection from the owner announces nothing.

#include <QWidget>
#include <cstdint>
#include <string>
#include <vector>

class QButtonGroup;
class QLabel;
class QRadioButton;
class QVBoxLayout;

namespace keldwick {

// The fixed choices, then `current` as a fourth one when it is none of them.
std::vector<int64_t> keepFreeChoices(int64_t current);
// "**<gigabytes>** — <words>" (Markdown), the words picked by whole gigabytes.
std::string keepFreeCaption(int64_t bytes);

class KeepFreePicker final : public QWidget {
    Q_OBJECT

public:
    explicit KeepFreePicker(int64_t selection, QWidget* parent = nullptr);

    int64_t selection() const { return selection_; }
    // Shows `bytes` as the selected level, rebuilding the rows when needed.
    void setSelection(int64_t bytes);

    // The levels offered, in row order, and each row's caption (Markdown source).
    const std::vector<int64_t>& choices() const { return choices_; }
    QString caption(int row) const;
    QRadioButton* radio(int row) const;

signals:
    // The user picked a level.
    void selectionChanged(qint64 bytes);

private:
    void rebuild();
    void pick(int64_t bytes);
    void focusOnChecked();

    struct Row {
        QRadioButton* radio;
        QLabel* caption;
    };
    int64_t selection_;
    std::vector<int64_t> choices_;
    std::vector<Row> rows_;
    QButtonGroup* group_;
    QVBoxLayout* layout_;
};

}  // namespace keldwick
