#pragma once
// The program's windows, one instance each. Windows of later features plug in with a
// factory; opening a window that is already open brings it to the front instead of making
// a second. Every window it makes closes on Escape and Ctrl+W. A request for a window
// nobody registered is logged and reported, never dropped silently.

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>
#include <functional>
#include <map>
#include <optional>

#include "model/AppWindow.h"

class QWidget;

namespace keldwick {

class WindowRegistry final : public QObject {
    Q_OBJECT

public:
    struct Entry {
        QString title;
        QSize size;                        // first size; empty: the window's own size hint
        std::function<QWidget*()> make;    // a new top-level window, shown by the registry
    };

    explicit WindowRegistry(QObject* parent = nullptr);
    // Open windows go with the registry, so none outlives the hosts it was made over.
    ~WindowRegistry() override;

    // Registers the window for `window` (none: the settings window), replacing an earlier
    // registration; an open instance stays open.
    void add(std::optional<AppWindow> window, Entry entry);
    bool has(std::optional<AppWindow> window) const;

    // Shows the window, making it first (placed centred on the screen under the pointer)
    // when none is open, and raises and activates it. False, with a warning logged and
    // `missing` emitted, when no window is registered under that id. Main thread only.
    bool open(std::optional<AppWindow> window);

    // The open instance, or null.
    QWidget* window(std::optional<AppWindow> window) const;

    // "onboarding", ..., "settings" for the settings window.
    static QString idOf(std::optional<AppWindow> window);
    // The window's title (model/Windows.def).
    static QString titleOf(std::optional<AppWindow> window);

signals:
    void missing(const QString& id);
    void opened(const QString& id);

private:
    struct Slot {
        Entry entry;
        QPointer<QWidget> instance;
    };
    std::map<QString, Slot> slots_;
};

// Where a window of `wanted` size goes on a screen's `available` area: centred, and no
// larger than the area.
QRect placement(const QRect& available, const QSize& wanted);

}  // namespace keldwick
