// The preview the user approves plans in, and moving hand-picked items.

#include "drives/VolumeInfo.h"
#include "foundation/PathUtil.h"
#include "foundation/XdgUserDirs.h"
#include "model/AppModel.h"
#include "model/AutomaticCheck.h"
#include "model/ChosenMove.h"
#include "model/PreviewRequest.h"
#include "model/RunOutcome.h"
#include "model/StatusTexts.h"

namespace keldwick {

void AppModel::refreshPreview() {
    assertMainThread();
    if (!preview_ || !shouldRefreshPreview(state_)) return;
    // The switch the user set in this preview stays as they set it.
    const bool keepAsking = preview_->keepAsking();
    openPreview(preview_->kind(), std::nullopt, std::nullopt, false);
    if (preview_) preview_->setKeepAsking(keepAsking);
}

void AppModel::setPreview(std::shared_ptr<PreviewModel> preview) {
    if (preview_) QObject::disconnect(preview_.get(), nullptr, this, nullptr);
    preview_ = std::move(preview);
    auto shown = preview_ ? std::optional(preview_->state()) : std::nullopt;
    if (preview_) {
        auto follow = [this] { modelStore_.set<ModelField::preview>(std::optional(preview_->state())); };
        connect(preview_.get(), &PreviewModel::planChanged, this, follow);
        connect(preview_.get(), &PreviewModel::isScanningChanged, this, follow);
        connect(preview_.get(), &PreviewModel::keepAskingChanged, this, follow);
    }
    // A new preview is news even when it reads like the old one: the window shows this one.
    modelStore_.edit(ModelField::preview, [&](ModelState& state) { state.preview = std::move(shown); });
}

void AppModel::openPreview(PreviewKind kind, std::optional<int64_t> goal, std::optional<ScanFindings> findings,
                           bool showWindow) {
    assertMainThread();
    if (!state_.driveRoot) {
        if (showWindow) requestWindow(AppWindow::preview);
        return;
    }
    const PreviewGoal aim = previewGoal(state_, kind, goal);
    auto preview = std::make_shared<PreviewModel>(kind, aim.goalBytes, state_.settings.dryRunMode);
    // "Ask me every time" starts from what the user chose in Settings, unticked until they
    // chose; approving with it unticked approves automatic runs.
    preview->setKeepAsking(state_.settings.askFirstChoice.value_or(false));
    // The replaced preview's scan runs on and fills in only that preview.
    setPreview(preview);
    if (showWindow) requestWindow(AppWindow::preview);
    if (findings) {
        preview->apply(std::move(findings->report), findings->driveRoom);
        return;
    }
    PlanBuilder builder = scanBuilder(state_, aim.includingRecent);
    builder.clock = services_.clock;
    builder.availableBytes = services_.facts.availableBytes;
    preview->scan(std::move(builder), *state_.driveRoot, [background = services_.background](std::function<void()> work) {
        background->run(WorkPriority::user, std::move(work));
    });
}

// Takes its own share of the preview: approving drops the model's, which may be the one
// the caller handed in.
void AppModel::approvePreview(std::shared_ptr<PreviewModel> preview, Done done) {
    assertMainThread();
    if (!preview || !canApprovePreview(state_, preview->state())) {
        if (done) done();
        return;
    }
    // All of this happens before the window closes, so its close handler never reads an
    // approval as a decline.
    if (approvalApprovesAutomaticRuns(preview->state())) settings_.approveAutomaticRuns();
    if (preview == preview_) setPreview(nullptr);
    operations_.runPlan(*preview->plan(), preview->dryRun(), false, nullptr, [done](std::optional<RunSummary>) {
        if (done) done();
    });
}

void AppModel::previewClosed(const PreviewModel* closed) {
    assertMainThread();
    // A window closing late must not drop a newer preview, nor one already approved.
    if (!preview_ || preview_.get() != closed) return;
    if (closingPreviewDeclines(state_)) settings_.setFirstRunDeclinedAt(now());
    setPreview(nullptr);
}

void AppModel::dismissPreview() { previewClosed(preview_.get()); }

void AppModel::clearFilesProblem() {
    assertMainThread();
    modelStore_.set<ModelField::filesProblem>(std::nullopt);
}

void AppModel::moveToDrive(const std::vector<std::string>& paths, std::function<void(std::optional<std::string>)> done) {
    assertMainThread();
    auto finish = [done](std::optional<std::string> message) {
        if (done) done(std::move(message));
    };
    const bool native = state_.driveRoot && VolumeInfo::storesMetadataNatively(*state_.driveRoot);
    ChosenMovePlan chosen = planChosenMove(state_, paths, native, now());
    if (chosen.report) {
        finish(reportChosenProblem(*chosen.report));
        return;
    }
    if (!chosen.plan) {
        finish(std::nullopt);
        return;
    }
    // Chosen items are checked with their own rules; the model's engine stays as it is.
    auto engine = makeEngine(chosenRules(state_));
    const OffloadPlan plan = *chosen.plan;
    operations_.runPlan(plan, state_.settings.dryRunMode, false, std::move(engine),
            [this, chosen = std::move(chosen), finish](std::optional<RunSummary> summary) {
                auto message = chosenMoveMessage(chosen, summary, state_.lastRun);
                if (message) modelStore_.set<ModelField::filesProblem>(message);
                finish(std::move(message));
            });
}

std::string AppModel::reportChosenProblem(const ChosenProblem& problem) {
    const FilesProblemReport report = chosenProblemReport(problem);
    modelStore_.set<ModelField::filesProblem>(report.filesProblem);
    if (report.notice) post(*report.notice);
    return problem.message;
}

void AppModel::chooseFilesToMove() {
    assertMainThread();
    const ChooseFilesTexts texts = chooseFilesTexts(driveDisplayName(state_));
    PickRequest request;
    request.files = true;
    request.folders = true;
    request.multiple = true;
    request.startIn = XdgUserDirs::desktop(state_.home);
    request.title = texts.title;
    request.button = texts.prompt;
    request.message = texts.message;
    request.hiddenFilesToggle = true;
    auto chosen = services_.filePicker->pick(request);
    if (!chosen) return;
    // The panel has closed; the move starts from the event loop, its problems already
    // recorded in filesProblem and notices.
    QMetaObject::invokeMethod(
        this,
        [this, paths = std::move(*chosen)] {
            moveToDrive(paths);
        },
        Qt::QueuedConnection);
}

}  // namespace keldwick
