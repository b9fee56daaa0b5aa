// Start, refresh, the engine for the current drive and rules, and the pins that feed
// the scan rules.

#include <memory>

#include "foundation/PathUtil.h"
#include "foundation/XdgUserDirs.h"
#include "model/AppModel.h"
#include "model/StatusTexts.h"
#include "model/AutomaticCheck.h"
#include "model/FreedMemory.h"

namespace keldwick {

void AppModel::start() {
    assertMainThread();
    startup_.start(instanceLock_ != nullptr);
}

void AppModel::refresh(Done done) {
    assertMainThread();
    if (done) refreshWaiters_.push_back(std::move(done));
    const uint64_t serial = ++refreshSerial_;
    auto relay = relay_.shared();
    services_.background->run(WorkPriority::user, [this, relay, serial, sources = refreshSources()] {
        auto reading = std::make_shared<RefreshReading>(readRefresh(sources));
        relay->post([this, serial, reading] { applyRefresh(serial, std::move(*reading)); });
    });
}

void AppModel::refreshNow() {
    assertMainThread();
    const uint64_t serial = ++refreshSerial_;
    applyRefresh(serial, readRefresh(refreshSources()));
}

RefreshSources AppModel::refreshSources() const {
    return RefreshSources{state_.home,    state_.settings.drive, journal_,
                          locator_,       services_.facts,       state_.records, state_.settings.managedFolders,
                          recordsStamp_,  restored_};
}

void AppModel::applyRefresh(uint64_t serial, RefreshReading reading) {
    assertMainThread();
    // A newer refresh has started: its values are the ones to show, and its end calls the
    // waiters.
    if (serial != refreshSerial_) return;
    // The drive was changed while this was read: what was read belongs to the old one.
    if (reading.drive != state_.settings.drive) {
        refresh();
        return;
    }
    modelStore_.set<ModelField::computerFreeBytes>(reading.freeBytes);
    modelStore_.set<ModelField::computerTotalBytes>(reading.totalBytes);
    drives_.applyHomeAccess(reading.homeAccess);
    drives_.apply(std::move(reading.chosenDrive));

    if (reading.records) {
        // Whichever list isn't kept, the old one or the one just read, is freed elsewhere.
        RecordList replaced = state_.records;
        if (modelStore_.set<ModelField::records>(*reading.records)) releaseElsewhere(std::move(replaced));
        if (!reading.records->sharesWith(state_.records)) releaseElsewhere(std::move(*reading.records));
        modelStore_.set<ModelField::otherDrives>(otherDrives(reading.otherDrives, state_.otherDrives));
        modelStore_.set<ModelField::hasBroughtFilesBack>(reading.hasBroughtFilesBack);
        recordsStamp_ = reading.recordsStamp;
        restored_ = reading.restored;
    }
    if (reading.pins) modelStore_.set<ModelField::pins>(std::move(*reading.pins));
    noteJournalRead(reading.journalError);

    if (reading.records) {
        auto restored = recentlyRestored(reading.restored, now(), state_.settings.minimumAgeDays);
        if (modelStore_.set<ModelField::recentlyRestored>(std::move(restored)))
            setEngine(makeEngine());
        // The rest of the reading is free once this returns; a reading that kept the
        // records it had read nothing to give back.
        if (reading.recordsRead) releaseFreedMemorySoon();
    }

    auto waiters = std::move(refreshWaiters_);
    refreshWaiters_.clear();
    for (auto& waiter : waiters) {
        waiter();
    }
}

void AppModel::noteJournalRead(const std::optional<std::string>& error) {
    // A journal that could not be opened stays the problem for the whole run.
    if (state_.journalProblem && !journalProblemIsRead_) return;
    journalProblemIsRead_ = error.has_value();
    modelStore_.set<ModelField::journalProblem>(error);
}

std::shared_ptr<EngineOperations> AppModel::makeEngine(std::optional<RuleList> rules) {
    assertMainThread();
    EngineSpec spec;
    spec.journal = journal_;
    spec.drive = state_.settings.drive.value_or(Drive{"", "No drive"});
    spec.locator = locator_;
    spec.configuration = engineConfiguration(state_.settings, state_.home);
    spec.rules = rules ? std::move(*rules) : scanRules();
    if (services_.facts.iconPlacing) spec.icons = services_.facts.iconPlacing(XdgUserDirs::desktop(state_.home));
    if (!spec.icons) spec.icons = std::make_shared<NoIconPlacing>();
    return services_.engines(spec);
}

std::vector<std::string> AppModel::recentlyRestoredPaths() {
    assertMainThread();
    try {
        return recentlyRestored(journal_->records({Phase::restored}), now(), state_.settings.minimumAgeDays);
    } catch (const std::exception&) {
        return {};
    }
}

RuleList AppModel::scanRules() const { return keldwick::scanRules(state_); }

PlanBuilder AppModel::planBuilder(const std::vector<std::string>& folders, const DriveProfile& profile) const {
    return keldwick::planBuilder(state_, folders, profile);
}

void AppModel::pin(const std::vector<std::string>& paths) {
    assertMainThread();
    for (const auto& path : paths) {
        try {
            journal_->pin(pinForm(path));
        } catch (const std::exception&) {
            // The next path is still pinned; this one shows as not pinned in the list.
        }
    }
    reloadPins();
}

void AppModel::loadPins() {
    std::vector<std::string> pins;
    try {
        pins = journal_->pins();
    } catch (const std::exception&) {
        pins.clear();
    }
    modelStore_.set<ModelField::pins>(std::move(pins));
}

void AppModel::reloadPins() {
    assertMainThread();
    loadPins();
    setEngine(makeEngine());
    modelStore_.set<ModelField::stall>(std::nullopt);
}

}  // namespace keldwick
