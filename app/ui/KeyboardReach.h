#pragma once
// Keys every window answers alike, whatever control has the focus, so each window can be
// worked without a mouse:
// - Tab and Shift+Tab follow reading order.
// - Return and Enter press the focused button. Tool buttons, check boxes and push buttons
//   outside dialogs ignore them otherwise, and a dialog would press its default button.
// - Shift+F10 and the Menu key ask the focused control for its menu, placed under the
//   current row of a list.

#include <QModelIndex>
#include <QPoint>
#include <functional>
#include <optional>
#include <set>
#include <vector>

class QAbstractItemView;
class QWidget;

namespace keldwick {

// Adds the keys to `window` (a top-level widget).
void reachByKeyboard(QWidget* window);

// A request for a list's row menu: the row clicked (invalid off the rows), or none when
// asked for by keyboard; and where the menu opens, in global coordinates.
struct RowMenuRequest {
    std::optional<QModelIndex> clicked;
    QPoint at;
};

// The controls Tab reaches in `window`, in reading order: top to bottom, left to right on
// a line, however late each was made. Tab and Shift+Tab follow it in the windows given
// the keys above.
std::vector<QWidget*> readingOrder(QWidget* window);

// Makes a list or table part of its window's keyboard order: Tab and Shift+Tab leave it for
// the next control (rather than moving between cells), and a right click, Shift+F10 and the
// Menu key all call `showMenu`.
void reachRowsByKeyboard(QAbstractItemView* view, std::function<void(const RowMenuRequest&)> showMenu);

// Where a menu asked for by keyboard opens over `view`: under its current row, else at
// its top left; in global coordinates.
QPoint keyboardMenuPosition(const QAbstractItemView& view);

// What a row menu acts on. A click on a selected row, or a request by keyboard, acts on the
// selection; a click on another row acts on that row alone. By keyboard with nothing
// selected, the current row stands in; nothing when there is none either.
template <class Id>
std::set<Id> rowMenuTargets(const std::set<Id>& selection, const std::optional<Id>& clicked,
                            const std::optional<Id>& current) {
    if (clicked) return selection.count(*clicked) ? selection : std::set<Id>{*clicked};
    if (!selection.empty()) return selection;
    if (current) return {*current};
    return {};
}

}  // namespace keldwick
