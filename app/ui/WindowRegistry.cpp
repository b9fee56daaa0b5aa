#include "ui/WindowRegistry.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "model/MainThread.h"
#include "ui/CloseKeys.h"
#include "ui/KeyboardReach.h"

namespace keldwick {

WindowRegistry::WindowRegistry(QObject* parent) : QObject(parent) {}

WindowRegistry::~WindowRegistry() {
    // Hidden while whole, so what a window does as it goes (hide handlers reaching the
    // model) never runs inside its destructor.
    for (auto& [id, slot] : slots_) {
        if (!slot.instance) continue;
        slot.instance->hide();
        delete slot.instance.data();
    }
}

namespace {

QString text(std::string_view bytes) { return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())); }

}  // namespace

QString WindowRegistry::idOf(std::optional<AppWindow> window) {
    if (window) return text(toString(*window));
    for (const WindowFacts& row : windowTable()) {
        if (row.opened == WindowFacts::Opened::asSettings) return text(row.id);
    }
    return {};
}

QString WindowRegistry::titleOf(std::optional<AppWindow> window) { return text(windowTitle(window)); }

void WindowRegistry::add(std::optional<AppWindow> window, Entry entry) {
    Slot& slot = slots_[idOf(window)];
    slot.entry = std::move(entry);
}

bool WindowRegistry::has(std::optional<AppWindow> window) const { return slots_.count(idOf(window)) != 0; }

QWidget* WindowRegistry::window(std::optional<AppWindow> window) const {
    auto found = slots_.find(idOf(window));
    return found == slots_.end() ? nullptr : found->second.instance.data();
}

bool WindowRegistry::open(std::optional<AppWindow> window) {
    assertMainThread();
    const QString id = idOf(window);
    auto found = slots_.find(id);
    if (found == slots_.end() || !found->second.entry.make) {
        qWarning("keldwick: no window is built yet for the request \"%s\"", qPrintable(id));
        emit missing(id);
        return false;
    }
    Slot& slot = found->second;
    if (!slot.instance) {
        QWidget* made = slot.entry.make();
        // Each opening starts fresh; what must last lives in the model, not the window.
        made->setAttribute(Qt::WA_DeleteOnClose);
        closeOnEscapeOrCtrlW(made);
        reachByKeyboard(made);
        made->setObjectName(id);
        if (!slot.entry.title.isEmpty()) made->setWindowTitle(slot.entry.title);
        const QSize size = slot.entry.size.isEmpty() ? made->sizeHint() : slot.entry.size;
        QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
        if (!screen) screen = QGuiApplication::primaryScreen();
        if (screen) made->setGeometry(placement(screen->availableGeometry(), size));
        slot.instance = made;
    }
    QWidget* shown = slot.instance;
    if (shown->isMinimized()) shown->showNormal();
    shown->show();
    shown->raise();
    shown->activateWindow();
    emit opened(id);
    return true;
}

QRect placement(const QRect& available, const QSize& wanted) {
    const QSize size = wanted.boundedTo(available.size());
    return {available.x() + (available.width() - size.width()) / 2,
            available.y() + (available.height() - size.height()) / 2, size.width(), size.height()};
}

}  // namespace keldwick
