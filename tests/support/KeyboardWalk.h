#pragma once
// A window worked as a keyboard's or a screen reader's user would: the controls Tab reaches,
// and the names and descriptions the accessibility tree gives. Header only: the windows'
// test programs share it, and the core's never draw.

#include <QAccessible>
#include <QApplication>
#include <QButtonGroup>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <QWidget>
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ui/KeyboardReach.h"

namespace keldwick::test {

// Shows `window` with the program's keys and makes it the active window, so keys reach
// its focus.
inline bool activateForKeys(QWidget& window) {
    reachByKeyboard(&window);
    window.show();
    QApplication::setActiveWindow(&window);
    return QTest::qWaitForWindowActive(&window);
}

// The controls a user could work: shown, enabled, taking focus by Tab. A group of radio
// buttons is one stop (Tab reaches one of them, the arrow keys the others): the group's
// buttons go into `radioGroups`, by the group or the parent that makes them one.
inline std::set<QWidget*> tabbableControls(QWidget& window, std::map<QObject*, std::set<QWidget*>>* radioGroups = nullptr) {
    std::set<QWidget*> controls;
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        if (widget->window() != &window || !widget->isVisible() || !widget->isEnabled()) continue;
        if ((widget->focusPolicy() & Qt::TabFocus) != Qt::TabFocus || widget->focusProxy()) continue;
        if (auto* radio = qobject_cast<QRadioButton*>(widget)) {
            if (radioGroups) (*radioGroups)[radio->group() ? static_cast<QObject*>(radio->group()) : radio->parent()].insert(radio);
            continue;
        }
        controls.insert(widget);
    }
    return controls;
}

struct TabWalk {
    std::vector<QWidget*> visited;  // from the control after the start, in order
    bool cameBack = false;          // focus returned to the start within the limit
};

// Presses Tab (Shift+Tab when `backwards`) on whatever has the focus, from the focused
// control, until the focus comes back to it or `limit` presses pass (a trap).
inline TabWalk walkByTab(QWidget& window, bool backwards, int limit = 100) {
    TabWalk walk;
    QWidget* start = QApplication::focusWidget();
    for (int i = 0; i < limit && start; ++i) {
        QWidget* focused = QApplication::focusWidget();
        QTest::keyClick(focused ? focused : &window, backwards ? Qt::Key_Backtab : Qt::Key_Tab,
                        backwards ? Qt::ShiftModifier : Qt::NoModifier);
        QWidget* now = QApplication::focusWidget();
        if (now == start) {
            walk.cameBack = true;
            break;
        }
        walk.visited.push_back(now);
    }
    return walk;
}

// Where `widget` is in `window`, by the window's coordinates (a control scrolled out of
// view keeps its place in the page).
inline QRect placeIn(const QWidget& window, const QWidget* widget) {
    return {widget->mapTo(&window, QPoint(0, 0)), widget->size()};
}

// Whether going from `from` to `to` goes back up the page: `to` lies wholly above `from`.
// (No window has side by side columns, which would be read one after the other.)
inline bool goesBackUp(const QRect& from, const QRect& to) { return to.bottom() < from.top(); }

// What a screen reader calls `widget`.
inline QString accessibleNameOf(QWidget* widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name).trimmed() : QString();
}

// The control the window's first Tab reaches while nothing has the focus; the focus
// stays there.
inline QWidget* firstByTab(QWidget& window) {
    if (QWidget* focused = QApplication::focusWidget()) focused->clearFocus();
    QTest::keyClick(&window, Qt::Key_Tab);
    return QApplication::focusWidget();
}

// Checks the window's keyboard order from its first control: Tab reaches every control
// once and comes back, Shift+Tab walks the same circle the other way, the circle from the
// window's start follows reading order (top to bottom, a column at a time), every control
// on it has a name, and Tab into a group of radio buttons lands on the checked one. Empty
// when it holds, else what failed, naming the controls by class and accessible name.
inline std::string keyboardOrderProblem(QWidget& window) {
    const auto describe = [](QWidget* w) {
        if (!w) return std::string("(none)");
        return std::string(w->metaObject()->className()) + " \"" + accessibleNameOf(w).toStdString() + "\" " +
               w->objectName().toStdString();
    };
    std::map<QObject*, std::set<QWidget*>> radioGroups;
    const std::set<QWidget*> controls = tabbableControls(window, &radioGroups);
    if (controls.empty()) return "no control takes focus";
    if (!QApplication::focusWidget() || QApplication::focusWidget()->window() != &window)
        (*controls.begin())->setFocus(Qt::TabFocusReason);
    QWidget* start = QApplication::focusWidget();
    const TabWalk forward = walkByTab(window, false);
    if (!forward.cameBack)
        return "Tab never comes back to " + describe(start) + "; it stays at " + describe(forward.visited.back());
    std::set<QWidget*> reached(forward.visited.begin(), forward.visited.end());
    reached.insert(start);
    std::string problem;
    for (QWidget* control : controls)
        if (!reached.count(control)) problem += "Tab misses " + describe(control) + "\n";
    for (const auto& [group, radios] : radioGroups) {
        if (std::none_of(radios.begin(), radios.end(), [&](QWidget* r) { return reached.count(r) > 0; }))
            problem += "Tab misses the radio buttons of " + describe(*radios.begin()) + "\n";
    }
    if (reached.size() != forward.visited.size() + 1) problem += "Tab visits a control twice\n";
    const TabWalk backward = walkByTab(window, true);
    std::vector<QWidget*> reversed(forward.visited.rbegin(), forward.visited.rend());
    if (!backward.cameBack || backward.visited != reversed) problem += "Shift+Tab doesn't walk the way back\n";

    // The circle, from the control the window's first Tab reaches.
    std::vector<QWidget*> circle{start};
    circle.insert(circle.end(), forward.visited.begin(), forward.visited.end());
    QWidget* const first = firstByTab(window);
    const auto from = std::find(circle.begin(), circle.end(), first);
    if (from != circle.end()) std::rotate(circle.begin(), from, circle.end());
    else problem += "The first Tab reaches " + describe(first) + ", off the circle\n";
    for (size_t i = 0; i + 1 < circle.size(); ++i) {
        if (goesBackUp(placeIn(window, circle[i]), placeIn(window, circle[i + 1])))
            problem += "Tab goes back up from " + describe(circle[i]) + " to " + describe(circle[i + 1]) + "\n";
    }
    for (QWidget* control : circle) {
        if (accessibleNameOf(control).isEmpty()) problem += "Tab reaches an unnamed " + describe(control) + "\n";
        auto* radio = qobject_cast<QRadioButton*>(control);
        if (!radio || radio->isChecked()) continue;
        bool anyChecked = radio->group() && radio->group()->checkedButton();
        if (!radio->group() && radio->autoExclusive())
            for (auto* other : radio->parentWidget()->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly))
                anyChecked = anyChecked || other->isChecked();
        if (anyChecked) problem += "Tab lands on the unchecked " + describe(radio) + " of its group\n";
    }
    return problem;
}

// The accessible names and descriptions under `window` that hold markup (HTML tags or
// Markdown's emphasis), each with its holder's role.
inline std::vector<std::string> accessibleMarkup(QWidget& window) {
    static const QRegularExpression markup(QStringLiteral("<[a-zA-Z/][^>]*>|\\*\\*|&[a-z]+;"));
    std::vector<std::string> found;
    std::vector<QAccessibleInterface*> pending{QAccessible::queryAccessibleInterface(&window)};
    int seen = 0;
    while (!pending.empty() && ++seen < 5000) {
        QAccessibleInterface* node = pending.back();
        pending.pop_back();
        if (!node || !node->isValid()) continue;
        for (QAccessible::Text kind : {QAccessible::Name, QAccessible::Description}) {
            const QString text = node->text(kind);
            if (text.contains(markup))
                found.push_back(std::to_string(int(node->role())) + ": " + text.toStdString());
        }
        for (int i = 0; i < node->childCount(); ++i) pending.push_back(node->child(i));
    }
    return found;
}

}  // namespace keldwick::test
