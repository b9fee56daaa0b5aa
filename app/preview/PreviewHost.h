#pragma once
// What the preview window asks of the program's model besides its state and clock: the
// open preview, and the operations the window starts. The program hands an
// AppModelPreviewHost; tests hand a recording stand-in. Main thread only.

#include <string>
#include <vector>

#include "model/AppWindow.h"
#include "ui/WindowHost.h"

namespace keldwick {

class PreviewModel;

class PreviewHost : public WindowHost {
    Q_OBJECT

public:
    using WindowHost::WindowHost;
    ~PreviewHost() override = default;

    // The open preview, or null.
    virtual PreviewModel* preview() const = 0;

    // "Free Up Space…": the user's own preview for the need of the moment.
    virtual void openPreview() = 0;
    // Approves `preview` and starts its run. By the time this returns the preview is no
    // longer the open one, so closing the window afterwards records no decline.
    virtual void approvePreview(PreviewModel& preview) = 0;
    // The window closed while it showed `preview` (null: none). Only the open preview is
    // dropped (and a declined first automatic run remembered); an older one changes nothing.
    virtual void previewClosed(PreviewModel* preview) = 0;
    virtual void requestWindow(AppWindow window) = 0;
    virtual void chooseFilesToMove() = 0;
    // Keeps the items on this computer from now on; the open preview is not scanned again.
    virtual void pin(const std::vector<std::string>& paths) = 0;
    // Shows the items in the file manager, all in one window.
    virtual void showItems(const std::vector<std::string>& paths) = 0;

signals:
    // preview() is now another preview, or none.
    void previewReplaced();
};

}  // namespace keldwick
