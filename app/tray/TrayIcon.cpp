#include "tray/TrayIcon.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QScreen>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QWidget>

#include "desktop/DesktopMotion.h"
#include "model/AppWindow.h"
#include "model/MainThread.h"
#include "ui/WindowRegistry.h"

namespace keldwick {

TrayIcon::TrayIcon(Model model, WindowRegistry& windows, PanelFactory makePanel, QObject* parent)
    : QObject(parent), model_(std::move(model)), windows_(windows), makePanel_(std::move(makePanel)) {
    drip_.setInterval(dripIntervalMs);
    connect(&drip_, &QTimer::timeout, this, &TrayIcon::advanceDrip);
}

TrayIcon::~TrayIcon() {
    if (panel_) panel_->hide();
    delete panel_.data();
}

bool TrayIcon::show(std::optional<bool> trayAvailable) {
    assertMainThread();
    hasTray_ = trayAvailable.value_or(QSystemTrayIcon::isSystemTrayAvailable());
    if (hasTray_) {
        tray_ = std::make_unique<QSystemTrayIcon>();
        tray_->setToolTip(QStringLiteral("Keldwick"));
        connect(tray_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context) togglePanel();
        });
    }
    refresh();
    if (tray_) tray_->show();
    return hasTray_;
}

void TrayIcon::refresh() {
    const ModelState& state = model_.state();
    const bool dripping = TrayGlyph::isDripping(state.activity, reduceMotion_);
    if (dripping && !drip_.isActive()) drip_.start();
    if (!dripping) drip_.stop();
    shown_ = TrayGlyph::shown(state, reduceMotion_, dripFrame_);
    if (!tray_) return;
    const QIcon icon = TrayGlyph::image(shown_.fill, shown_.mark, tone());
    // The tray host redraws on every new icon; an unchanged glyph needn't cost that.
    if (icon.cacheKey() != tray_->icon().cacheKey()) tray_->setIcon(icon);
}

void TrayIcon::advanceDrip() {
    if (!TrayGlyph::isDripping(model_.state().activity, reduceMotion_)) {
        drip_.stop();
        return;
    }
    dripFrame_ = (dripFrame_ + 1) % 4;
    refresh();
}

void TrayIcon::setReduceMotion(bool on) {
    reduceMotion_ = on;
    refresh();
}

void TrayIcon::setPanelColor(std::optional<QColor> color) {
    panelColor_ = color;
    refresh();
}

void TrayIcon::followMotion(DesktopMotion& motion) {
    connect(&motion, &DesktopMotion::reduceMotionChanged, this, &TrayIcon::setReduceMotion);
    setReduceMotion(motion.reduceMotion());
}

void TrayIcon::openRequestedWindows() {
    assertMainThread();
    // Emptying the queue notifies again; that second call must find nothing to do.
    if (opening_ || model_.state().windowRequests.empty()) return;
    opening_ = true;
    const std::vector<WindowRequest> requests = model_.state().windowRequests;
    for (const WindowRequest& request : requests) windows_.open(request.window);
    opening_ = false;
    model_.clearWindowRequests();
}

bool TrayIcon::eventFilter(QObject* watched, QEvent* event) {
    if (watched == panel_ && event->type() == QEvent::WindowDeactivate && panel_->isVisible()) {
        panel_->close();
        sinceClosedByClickAway_.start();
    }
    return QObject::eventFilter(watched, event);
}

void TrayIcon::togglePanel() {
    if (panel_ && panel_->isVisible() && hasTray_) {
        panel_->close();
        return;
    }
    // The click on the icon that took the focus from the open panel closed it already:
    // that click means "close", not "open again".
    if (hasTray_ && sinceClosedByClickAway_.isValid() && sinceClosedByClickAway_.elapsed() < clickAwayMs) return;
    showPanel();
}

void TrayIcon::showPanel() {
    assertMainThread();
    if (!panel_) {
        panel_ = makePanel_();
        panel_->setAttribute(Qt::WA_DeleteOnClose);
        if (hasTray_) {
            // A frameless tool window that closes when another window takes the focus,
            // rather than a popup: the accessibility bus lists no popups among the
            // program's windows, so a screen reader could never reach the panel's rows.
            panel_->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
            panel_->installEventFilter(this);
        } else {
            panel_->setWindowFlags(Qt::Window);
        }
        // The name a screen reader gives the panel.
        panel_->setWindowTitle(QString::fromUtf8(trayPanelTitle().data(), trayPanelTitle().size()));
        // Filled before it is placed, so it is placed at its real size.
        emit panelShown();
        // Under the icon where the tray tells where it is; else by the pointer.
        const QRect icon = tray_ ? tray_->geometry() : QRect();
        QPoint anchor = icon.isValid() ? QPoint(icon.center().x(), icon.bottom() + 4) : QCursor::pos();
        QScreen* screen = QGuiApplication::screenAt(anchor);
        if (!screen) screen = QGuiApplication::primaryScreen();
        if (screen) {
            const QRect area = screen->availableGeometry();
            // Inside the screen's free area, title bar included, however tall the rows:
            // what doesn't fit scrolls. The window manager's frame is not known before
            // the window shows, so a title bar's height is kept free for it.
            const int frame = hasTray_ ? 0 : panel_->style()->pixelMetric(QStyle::PM_TitleBarHeight) + 8;
            panel_->setMaximumHeight(std::max(100, area.height() - frame));
            panel_->resize(panel_->width(), std::min(panel_->sizeHint().height(), panel_->maximumHeight()));
            QRect placed(QPoint(anchor.x() - panel_->width() / 2, anchor.y()),
                         QSize(panel_->width(), panel_->height() + frame));
            if (!hasTray_) placed.moveCenter(area.center());
            if (icon.isValid() && icon.center().y() > area.center().y()) placed.moveBottom(icon.top() - 4);
            placed.moveRight(std::min(placed.right(), area.right()));
            placed.moveLeft(std::max(placed.left(), area.left()));
            placed.moveBottom(std::min(placed.bottom(), area.bottom()));
            placed.moveTop(std::max(placed.top(), area.top()));
            // A window's position is that of its frame.
            panel_->move(placed.topLeft());
        } else {
            panel_->adjustSize();
        }
    } else {
        emit panelShown();
    }
    panel_->show();
    panel_->raise();
    panel_->activateWindow();
}

}  // namespace keldwick
