#pragma once
// A stand-in for the program's model, for the preview window's tests, pictures and benchmark.

#include <memory>
#include <string>
#include <vector>

#include "model/ModelStateFixtures.h"
#include "model/PreviewModel.h"
#include "model/PreviewRequest.h"
#include "preview/PreviewHost.h"
#include "support/FakeWindowHost.h"

namespace keldwick::test {

inline constexpr int64_t previewGoal = 4'000'000'000;

// The model as the window sees it, recording what the window asks. Approving and closing
// behave as the program's model does: approval drops the open preview first, and closing
// drops only the open preview, remembering a declined first automatic run.
class FakePreviewHost final : public FakeWindowHost<PreviewHost> {
public:
    std::unique_ptr<PreviewModel> open;
    std::vector<std::unique_ptr<PreviewModel>> dropped;
    std::vector<std::string> calls;
    std::vector<std::vector<std::string>> pinned, shown;
    bool declined = false;
    bool approvedAutomaticRuns = false;

    FakePreviewHost() { model = test::readyState(); }

    PreviewModel* preview() const override { return open.get(); }

    PreviewModel& start(PreviewKind kind = PreviewKind::manual, bool dryRun = false) {
        if (open) dropped.push_back(std::move(open));
        open = std::make_unique<PreviewModel>(kind, previewGoal, dryRun);
        emit previewReplaced();
        return *open;
    }
    void openPreview() override {
        calls.push_back("openPreview");
        start();
    }
    void approvePreview(PreviewModel& preview) override {
        calls.push_back(&preview == open.get() ? "approve" : "approve another");
        approvedAutomaticRuns = approvalApprovesAutomaticRuns(preview.state());
        drop();
    }
    void previewClosed(PreviewModel* preview) override {
        calls.push_back("closed");
        if (!preview || preview != open.get()) return;
        model.preview = preview->state();
        declined = closingPreviewDeclines(model);
        drop();
    }
    void requestWindow(AppWindow window) override { calls.push_back("window " + std::string(toString(window))); }
    void chooseFilesToMove() override { calls.push_back("choose"); }
    void pin(const std::vector<std::string>& paths) override { pinned.push_back(paths); }
    void showItems(const std::vector<std::string>& paths) override { shown.push_back(paths); }

private:
    void drop() {
        dropped.push_back(std::move(open));
        emit previewReplaced();
    }
};

}  // namespace keldwick::test
