#include "ui/KeyboardReach.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QShortcut>

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

}  // namespace

void reachByKeyboard(QWidget* window) {
    window->installEventFilter(new ReturnPresses(window));
    for (const QKeySequence& keys : {QKeySequence(Qt::SHIFT | Qt::Key_F10), QKeySequence(Qt::Key_Menu)}) {
        auto* shortcut = new QShortcut(keys, window);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, window, [window] { requestMenu(window); });
    }
}

void putLastInTabOrder(QWidget* window, const std::vector<QWidget*>& controls) {
    const auto isMoved = [&](QWidget* widget) {
        for (QWidget* control : controls)
            if (control && (widget == control || control->isAncestorOf(widget))) return true;
        return false;
    };
    // The last other widget of the chain that can take focus (setTabOrder links only those).
    QWidget* anchor = window->previousInFocusChain();
    while (anchor && anchor != window && (isMoved(anchor) || anchor->focusPolicy() == Qt::NoFocus))
        anchor = anchor->previousInFocusChain();
    if (!anchor || anchor == window) return;
    for (QWidget* control : controls) {
        if (!control || control->focusPolicy() == Qt::NoFocus) continue;
        QWidget::setTabOrder(anchor, control);
        anchor = control;
    }
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
