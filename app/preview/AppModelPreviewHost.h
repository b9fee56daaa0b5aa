#pragma once
// The preview window's host in the running program: the program's model itself. Every
// change the model announces may redraw the window; a change of its preview makes the
// window follow. Items are shown through the desktop's file manager.

#include "preview/PreviewHost.h"
#include "ui/AppModelWindowHost.h"
#include "ui/FileManager.h"

namespace keldwick {

class AppModelPreviewHost final : public AppModelWindowHost<PreviewHost> {
    Q_OBJECT

public:
    // `model` outlives the host.
    explicit AppModelPreviewHost(AppModel& model, QObject* parent = nullptr);

    PreviewModel* preview() const override;
    void openPreview() override;
    void approvePreview(PreviewModel& preview) override;
    void previewClosed(PreviewModel* preview) override;
    void requestWindow(AppWindow window) override;
    void chooseFilesToMove() override;
    void pin(const std::vector<std::string>& paths) override;
    void showItems(const std::vector<std::string>& paths) override;

private:
    FileManager files_;
};

}  // namespace keldwick
