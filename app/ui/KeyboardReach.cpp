#include "ui/KeyboardReach.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QShortcut>
#include <QTextEdit>
#include <algorithm>
#include <vector>

namespace keldwick {
namespace {

class ReturnPresses final : public QObject {
public:
    using QObject::QObject;

protected:
    // Key presses nobody inside took reach the window here, before a dialog's own handler.
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return false;
        if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
        auto* window = qobject_cast<QWidget*>(watched);
        auto* button = window ? qobject_cast<QAbstractButton*>(window->focusWidget()) : nullptr;
        if (!button || !button->isEnabled() || !button->isVisible()) return false;
        button->animateClick();
        return true;
    }
};

// setTabOrder links only widgets that Tab can reach; a focus proxy stands for its widget.
bool isTabStop(QWidget* widget) {
    return (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && !widget->focusProxy();
}

// Tab and Shift+Tab move the focus in reading order. Qt follows the order the controls
// were made in, and controls made later (rows of a list, a page's content after its
// buttons) come at its end, wherever they are shown.
class ReadingOrder final : public QObject {
public:
    using QObject::QObject;
    static constexpr const char* property = "keldwickReadingOrder";

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

class RowMenuRequests final : public QObject {
public:
    RowMenuRequests(QAbstractItemView* view, std::function<void(const RowMenuRequest&)> show)
        : QObject(view), view_(view), show_(std::move(show)) {}

protected:
    // A click's request reaches the viewport; one by keyboard reaches the view itself.
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::ContextMenu) return false;
        auto* request = static_cast<QContextMenuEvent*>(event);
        if (request->reason() == QContextMenuEvent::Mouse && watched == view_->viewport()) {
            show_({view_->indexAt(request->pos()), request->globalPos()});
        } else if (request->reason() != QContextMenuEvent::Mouse && watched == view_) {
            show_({std::nullopt, keyboardMenuPosition(*view_)});
        } else {
            return false;
        }
        return true;
    }

private:
    QAbstractItemView* view_;
    std::function<void(const RowMenuRequest&)> show_;
};

void requestMenu(QWidget* window) {
    QWidget* focused = window->focusWidget();
    if (!focused || !focused->isVisible()) return;
    QPoint global = focused->mapToGlobal(QPoint(0, focused->height() / 2));
    if (auto* view = qobject_cast<QAbstractItemView*>(focused)) global = keyboardMenuPosition(*view);
    QContextMenuEvent request(QContextMenuEvent::Keyboard, focused->mapFromGlobal(global), global);
    QApplication::sendEvent(focused, &request);
}

bool ReadingOrder::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const bool forward = key->key() == Qt::Key_Tab && !(key->modifiers() & ~Qt::KeypadModifier);
    const bool backward = key->key() == Qt::Key_Backtab;
    if (!forward && !backward) return false;
    auto* focused = static_cast<QWidget*>(watched);
    QWidget* window = focused->window();
    // The focused control's keys, or the window's own while nothing has the focus.
    QWidget* holder = QApplication::focusWidget();
    if (!window->property(property).toBool() || (holder ? focused != holder : focused != window)) return false;
    // Controls that take Tab themselves keep it.
    if (auto* text = qobject_cast<QTextEdit*>(focused); text && !text->tabChangesFocus()) return false;
    if (auto* text = qobject_cast<QPlainTextEdit*>(focused); text && !text->tabChangesFocus()) return false;
    if (auto* view = qobject_cast<QAbstractItemView*>(focused); view && view->tabKeyNavigation()) return false;
    const std::vector<QWidget*> order = readingOrder(window);
    if (order.empty()) return false;
    // The control holding the focus: the focused widget or the one it stands in for.
    auto at = std::find_if(order.begin(), order.end(), [&](QWidget* w) { return w == focused || w->isAncestorOf(focused); });
    size_t next = 0;
    if (at != order.end()) {
        const size_t index = size_t(at - order.begin());
        next = forward ? (index + 1) % order.size() : (index + order.size() - 1) % order.size();
    } else if (backward) {
        next = order.size() - 1;
    }
    QWidget* target = order[next];
    target->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    // A scrolled page brings the control into view, as its own Tab would.
    for (QWidget* up = target->parentWidget(); up && up != window; up = up->parentWidget())
        if (auto* scroll = qobject_cast<QScrollArea*>(up)) scroll->ensureWidgetVisible(target);
    return true;
}

}  // namespace

void reachByKeyboard(QWidget* window) {
    window->installEventFilter(new ReturnPresses(window));
    window->setProperty(ReadingOrder::property, true);
    static ReadingOrder* readingOrder = [] {
        auto* filter = new ReadingOrder(qApp);
        qApp->installEventFilter(filter);
        return filter;
    }();
    (void)readingOrder;
    for (const QKeySequence& keys : {QKeySequence(Qt::SHIFT | Qt::Key_F10), QKeySequence(Qt::Key_Menu)}) {
        auto* shortcut = new QShortcut(keys, window);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, window, [window] { requestMenu(window); });
    }
}

std::vector<QWidget*> readingOrder(QWidget* window) {
    std::vector<QWidget*> controls;
    for (QWidget* w = window->nextInFocusChain(); w && w != window; w = w->nextInFocusChain()) {
        if (w->window() == window && w->isVisible() && w->isEnabled() && isTabStop(w)) controls.push_back(w);
    }
    // Top to bottom by the middle of each control, left to right on a line: no control
    // then comes after one lying wholly below it. Equal places keep the chain's order.
    const auto place = [window](QWidget* w) { return QRect(w->mapTo(window, QPoint(0, 0)), w->size()); };
    std::stable_sort(controls.begin(), controls.end(), [&](QWidget* a, QWidget* b) {
        const QRect ra = place(a), rb = place(b);
        if (ra.center().y() != rb.center().y()) return ra.center().y() < rb.center().y();
        return ra.left() < rb.left();
    });
    return controls;
}

void reachRowsByKeyboard(QAbstractItemView* view, std::function<void(const RowMenuRequest&)> showMenu) {
    view->setTabKeyNavigation(false);
    view->setContextMenuPolicy(Qt::DefaultContextMenu);
    auto* requests = new RowMenuRequests(view, std::move(showMenu));
    view->installEventFilter(requests);
    view->viewport()->installEventFilter(requests);
}

QPoint keyboardMenuPosition(const QAbstractItemView& view) {
    const QRect row = view.visualRect(view.currentIndex());
    const QPoint at = row.isValid() ? QPoint(row.left() + 8, row.bottom()) : QPoint(8, 8);
    return view.viewport()->mapToGlobal(at);
}

}  // namespace keldwick
