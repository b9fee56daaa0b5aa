#include "model/PreviewModel.h"

#include <utility>

#include "model/BackgroundExecutor.h"
#include "scanning/Ranker.h"

namespace keldwick {

namespace {

bool holdsExcluded(const Candidate& candidate, const std::set<std::string>& excluded) {
    for (const Candidate& part : candidate.parts) {
        if (excluded.count(part.path) || holdsExcluded(part, excluded)) return true;
    }
    return false;
}

// The planner splits a folder into its parts ranked, at the folder's place; a folder
// holding an excluded part is split here the same way, so it can't be taken whole.
void appendWithoutExcluded(const std::vector<Candidate>& ranked, const std::set<std::string>& excluded,
                           std::vector<Candidate>& out) {
    for (const Candidate& candidate : ranked) {
        if (excluded.count(candidate.path)) continue;
        if (holdsExcluded(candidate, excluded)) {
            appendWithoutExcluded(Ranker().rank(candidate.parts), excluded, out);
        } else {
            out.push_back(candidate);
        }
    }
}

void appendExcluded(const std::vector<Candidate>& candidates, const std::set<std::string>& excluded,
                    std::vector<Candidate>& out) {
    for (const Candidate& candidate : candidates) {
        if (excluded.count(candidate.path)) {
            out.push_back(candidate);
        } else {
            appendExcluded(candidate.parts, excluded, out);
        }
    }
}

bool isCovered(const Candidate& candidate, const std::set<std::string>& planned,
               const std::set<std::string>& excluded) {
    if (planned.count(candidate.path) || excluded.count(candidate.path)) return true;
    if (candidate.parts.empty()) return false;
    for (const Candidate& part : candidate.parts) {
        if (!isCovered(part, planned, excluded)) return false;
    }
    return true;
}

}  // namespace

PreviewModel::PreviewModel(Kind kind, int64_t goalBytes, bool dryRun, QObject* parent)
    : QObject(parent),
      kind_(kind),
      goalBytes_(goalBytes),
      dryRun_(dryRun),
      relay_(this) {}

void PreviewModel::setKeepAsking(bool keepAsking) {
    if (keepAsking_ == keepAsking) return;
    keepAsking_ = keepAsking;
    emit keepAskingChanged();
}

PreviewState PreviewModel::state() const { return PreviewState{kind_, dryRun_, keepAsking_, isScanning_, plan_}; }

void PreviewModel::scan(PlanBuilder builder, std::string driveRoot, const BackgroundStart& start) {
    if (!isScanning_) {
        isScanning_ = true;
        emit isScanningChanged();
    }
    auto work = [this, relay = relay_.shared(), builder = std::move(builder), driveRoot = std::move(driveRoot)]() mutable {
        ScanReport report = builder.build(0, driveRoot).report;
        const int64_t room = builder.driveRoom(driveRoot);
        relay->post([this, report = std::move(report), room]() mutable { apply(std::move(report), room); });
    };
    if (start) {
        start(std::move(work));
    } else {
        ThreadPoolExecutor::shared()->run(WorkPriority::user, std::move(work));
    }
}

void PreviewModel::apply(ScanReport report, int64_t driveRoom) {
    if (driveRoom_ != driveRoom) {
        driveRoom_ = driveRoom;
        emit driveRoomChanged();
    }
    report_ = std::move(report);
    emit reportChanged();
    if (isScanning_) {
        isScanning_ = false;
        emit isScanningChanged();
    }
    replan();
}

void PreviewModel::replan() {
    if (!report_) return;
    std::vector<Candidate> kept;
    appendWithoutExcluded(report_->candidates, excluded_, kept);
    plan_ = OffloadPlanner().plan(kept, goalBytes_, driveRoom_);
    emit planChanged();
}

void PreviewModel::toggle(const std::string& path) {
    if (!excluded_.erase(path)) excluded_.insert(path);
    emit excludedChanged();
    replan();
}

std::vector<Candidate> PreviewModel::excludedCandidates() const {
    std::vector<Candidate> result;
    if (report_) appendExcluded(report_->candidates, excluded_, result);
    return result;
}

bool PreviewModel::driveIsFull() const {
    return report_ && !report_->candidates.empty() && excluded_.empty() && plan_ && plan_->items.empty();
}

bool PreviewModel::hasUnplannedCandidates() const {
    if (!plan_ || !report_ || plan_->shortfall() < 1) return false;
    std::set<std::string> planned;
    for (const Candidate& item : plan_->items) planned.insert(item.path);
    for (const Candidate& candidate : report_->candidates) {
        if (!isCovered(candidate, planned, excluded_)) return true;
    }
    return false;
}

}  // namespace keldwick
