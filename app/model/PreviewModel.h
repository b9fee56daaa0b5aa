#pragma once
// One preview of a run: one scan's report, the plan made from it for a goal, and the items
// the user took out of it. Every change of the exclusions plans again at once from the
// kept report, without scanning again. Main thread only; the scan's walk alone runs on a
// background thread and touches nothing here.
//
// An exclusion holds at every depth: the planner may take parts of a big folder, so a part
// the user unticked is left out wherever it sits, and a folder holding an excluded part is
// only ever taken by its other parts, never whole.

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "model/MainThreadRelay.h"
#include "model/ModelState.h"
#include "scanning/OffloadPlanner.h"
#include "scanning/PlanBuilder.h"
#include "scanning/Scanner.h"

namespace keldwick {

class PreviewModel final : public QObject {
    Q_OBJECT
public:
    using Kind = PreviewKind;

    // Starts work on a background thread. The default is Qt's global thread pool.
    using BackgroundStart = std::function<void(std::function<void()> work)>;

    // goalBytes: what the plan tries to free; the largest Int64 value means everything
    // that qualifies and fits. dryRun: the run it leads to only records what would move.
    PreviewModel(Kind kind, int64_t goalBytes, bool dryRun, QObject* parent = nullptr);

    Kind kind() const { return kind_; }
    int64_t goalBytes() const { return goalBytes_; }
    bool dryRun() const { return dryRun_; }
    bool keepAsking() const { return keepAsking_; }
    bool isScanning() const { return isScanning_; }
    const std::optional<ScanReport>& report() const { return report_; }
    const std::optional<OffloadPlan>& plan() const { return plan_; }
    const std::set<std::string>& excluded() const { return excluded_; }
    int64_t driveRoom() const { return driveRoom_; }

    // The user's wish to keep approving automatic runs by hand.
    void setKeepAsking(bool keepAsking);

    // What the program's model reads of this preview.
    PreviewState state() const;

    // One scan for the report alone (the plan of the build is dropped) and the room the
    // drive has, on a background thread; the result is applied on this object's thread.
    // A preview destroyed before the scan ends drops the result. Never fails.
    void scan(PlanBuilder builder, std::string driveRoot, const BackgroundStart& start = {});

    // Stores the room (notifying only a change) and the report, ends scanning, plans.
    void apply(ScanReport report, int64_t driveRoom);

    // Plans from the report without the excluded paths; nothing without a report.
    void replan();

    // Takes the path out of the exclusions when it is there, else puts it in; plans again.
    void toggle(const std::string& path);

    // The excluded candidates of the report, parts included, in report order (a part after
    // the folder holding it); nothing inside an excluded candidate is listed again.
    std::vector<Candidate> excludedCandidates() const;

    // Something qualified and nothing is excluded, yet the plan has no item: none fits.
    bool driveIsFull() const;

    // The plan falls short of its goal while some candidate is neither planned nor
    // excluded: it stopped for lack of room on the drive, not for lack of candidates. A
    // folder taken by its parts counts as planned when each part is planned or excluded.
    bool hasUnplannedCandidates() const;

signals:
    void keepAskingChanged();
    void isScanningChanged();
    void reportChanged();
    void planChanged();
    void excludedChanged();
    void driveRoomChanged();

private:
    const Kind kind_;
    const int64_t goalBytes_;
    const bool dryRun_;
    bool keepAsking_ = false;
    bool isScanning_ = true;
    std::optional<ScanReport> report_;
    std::optional<OffloadPlan> plan_;
    std::set<std::string> excluded_;
    int64_t driveRoom_ = 0;
    OwnedRelay relay_;  // hands the scan's result back
};

}  // namespace keldwick
