#pragma once
// The preview window's host in the running program: the program's model itself. Every
// change the model announces may redraw the window; a change of its preview makes the
// window follow. Items are shown through the desktop's file manager.

#include <memory>

#include "preview/PreviewHost.h"
#include "ui/FileManager.h"

namespace keldwick {

class AppModel;

class AppModelPreviewHost final : public PreviewHost {
    Q_OBJECT

public:
    // `model` outlives the host.
    explicit AppModelPreviewHost(AppModel& model, QObject* parent = nullptr);

    const ModelState& state() const override;
    PreviewModel* preview() const override;
    Date now() const override;
    void openPreview() override;
    void approvePreview(PreviewModel& preview) override;
    void previewClosed(PreviewModel* preview) override;
    void requestWindow(AppWindow window) override;
    void chooseFilesToMove() override;
    void pin(const std::vector<std::string>& paths) override;
    void showItems(const std::vector<std::string>& paths) override;

private:
    AppModel& model_;
    FileManager files_;
};

}  // namespace keldwick
