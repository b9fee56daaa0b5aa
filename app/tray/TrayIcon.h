#pragma once
// The program's face in the tray: the glyph for the computer's fill and the model's mark,
// drops pouring (a frame every 0.3 s) while files move or come back, and the one place
// where requested windows are opened. Where the desktop has no tray, the panel is an
// ordinary window instead, shown at start and whenever the program is launched again.

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

#include "tray/GlyphPicture.h"
#include "tray/TrayGlyph.h"
#include "model/ModelState.h"

class QSystemTrayIcon;


namespace keldwick {

class DesktopMotion;
class WindowRegistry;

class TrayIcon final : public QObject {
    Q_OBJECT

public:
    // What the tray reads and changes of the model.
    struct Model {
        std::function<const ModelState&()> state;
        std::function<void()> clearWindowRequests;
    };
    // Makes a fresh panel each time it opens; the tray owns it while it is open.
    using PanelFactory = std::function<QWidget*()>;

    TrayIcon(Model model, WindowRegistry& windows, PanelFactory makePanel, QObject* parent = nullptr);
    ~TrayIcon() override;

    // Shows the icon when the desktop has a tray (true); without one (false) the caller
    // shows the panel, which is then an ordinary window. `trayAvailable` stands in for
    // the desktop's answer in tests.
    bool show(std::optional<bool> trayAvailable = std::nullopt);

    // Opens the panel (under the icon, or as a window without a tray), or closes it
    // when it is open under the icon.
    void togglePanel();
    void showPanel();
    QWidget* panel() const { return panel_; }
    bool hasTray() const { return hasTray_; }

    // The model changed what the glyph shows: redraw, start or stop the drops.
    void refresh();
    // Opens every queued window in order, then empties the queue.
    void openRequestedWindows();

    // The colour of the panel the icon sits on picks the glyph's tone; none: not known (no
    // tray host tells it), and the outlined glyph reads on any panel.
    void setPanelColor(std::optional<QColor> color);
    TrayGlyph::Tone tone() const { return TrayGlyph::toneFor(panelColor_); }

    void setReduceMotion(bool on);
    // Takes the desktop's reduce-motion setting now and whenever it changes.
    void followMotion(DesktopMotion& motion);
    TrayGlyph::Shown shownGlyph() const { return shown_; }
    int dripFrame() const { return dripFrame_; }
    bool isAnimating() const { return drip_.isActive(); }
    QSystemTrayIcon* tray() const { return tray_.get(); }

    static constexpr int dripIntervalMs = 300;
    // How long after the panel lost the focus a click on the icon still counts as the
    // click that closed it.
    static constexpr int clickAwayMs = 300;

signals:
    // The panel is about to show (made anew, or brought forward): its owner fills it now.
    void panelShown();

protected:
    // Closes the panel when another window takes the focus, as a popup would close.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void advanceDrip();

    Model model_;
    WindowRegistry& windows_;
    PanelFactory makePanel_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    QPointer<QWidget> panel_;
    QTimer drip_;
    QElapsedTimer sinceClosedByClickAway_;
    int dripFrame_ = 0;  // kept between animations: the next one goes on from here
    bool reduceMotion_ = false;
    std::optional<QColor> panelColor_;
    bool hasTray_ = false;
    bool opening_ = false;
    TrayGlyph::Shown shown_;
};

}  // namespace keldwick
