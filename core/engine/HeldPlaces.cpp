#include "engine/HeldPlaces.h"

#include <algorithm>
#include <climits>

#include "engine/OffloadExecutor.h"
#include "foundation/EngineError.h"
#include "foundation/Utf8.h"

namespace keldwick {

void HeldPlaces::load() {
    if (loaded_) return;
    phases_.clear();
    readOriginals_.clear();
    addedOriginals_.clear();
    readRelatives_.clear();
    addedRelatives_.clear();
    journal_->places(driveID_, OffloadExecutor::activePhases(), [&](const RecordPlace& place) {
        phases_.emplace_back(place.id, place.phase);
        readOriginals_.emplace_back(hashOf(Utf8::lowercased(place.originalPath)), place.id);
        readRelatives_.emplace_back(Utf8::lowercased(place.driveRelativePath), place.id);
    });
    std::sort(readOriginals_.begin(), readOriginals_.end());
    std::sort(readRelatives_.begin(), readRelatives_.end());
    loaded_ = true;
}

std::optional<Phase> HeldPlaces::phaseOf(int64_t id) const {
    auto found = std::lower_bound(phases_.begin(), phases_.end(), id,
                                  [](const auto& entry, int64_t wanted) { return entry.first < wanted; });
    if (found == phases_.end() || found->first != id) return std::nullopt;
    return found->second;
}

void HeldPlaces::refresh(const OffloadRecord& record) {
    if (!loaded_) return;
    const bool active = record.driveID == driveID_ && OffloadExecutor::activePhases().contains(record.phase);
    auto found = std::lower_bound(phases_.begin(), phases_.end(), record.id,
                                  [](const auto& entry, int64_t wanted) { return entry.first < wanted; });
    if (found != phases_.end() && found->first == record.id) {
        // Known: its entries stand under its paths, which never change.
        found->second = active ? std::optional<Phase>(record.phase) : std::nullopt;
        return;
    }
    if (!active) return;
    phases_.insert(found, {record.id, record.phase});
    addedOriginals_.emplace(hashOf(Utf8::lowercased(record.originalPath)), record.id);
    addedRelatives_.emplace(Utf8::lowercased(record.driveRelativePath), record.id);
}

template <typename Found>
void HeldPlaces::visit(const std::string& key, bool prefix, Found&& found) const {
    auto matches = [&](const std::string& candidate) { return prefix ? candidate.starts_with(key) : candidate == key; };
    for (auto entry = std::lower_bound(readRelatives_.begin(), readRelatives_.end(), Keyed{key, INT64_MIN});
         entry != readRelatives_.end() && matches(entry->first); ++entry)
        if (phaseOf(entry->second)) found(entry->second);
    for (auto entry = addedRelatives_.lower_bound(key); entry != addedRelatives_.end() && matches(entry->first); ++entry)
        if (phaseOf(entry->second)) found(entry->second);
}

void HeldPlaces::check(const std::string& originalPath, const std::string& relativePath) {
    load();
    const std::string original = Utf8::lowercased(originalPath);
    const std::string relative = Utf8::lowercased(relativePath);
    std::optional<int64_t> oldest;
    auto keep = [&](int64_t id) {
        if (!oldest || id < *oldest) oldest = id;
    };

    // The oldest record whose original path is the item's, a match of hashes confirmed
    // from the record itself.
    std::optional<int64_t> sameOriginal;
    auto consider = [&](int64_t id) {
        if (!phaseOf(id) || (sameOriginal && *sameOriginal < id)) return;
        if (auto record = journal_->record(id); record && Utf8::lowercased(record->originalPath) == original)
            sameOriginal = id;
    };
    const size_t hash = hashOf(original);
    for (auto entry = std::lower_bound(readOriginals_.begin(), readOriginals_.end(), Hashed{hash, INT64_MIN});
         entry != readOriginals_.end() && entry->first == hash; ++entry)
        consider(entry->second);
    auto added = addedOriginals_.equal_range(hash);
    for (auto entry = added.first; entry != added.second; ++entry) consider(entry->second);
    if (sameOriginal) keep(*sameOriginal);

    // The same place, and every folder above it: a held path P covers the place when the
    // place begins with P + "/" (or with P itself when P ends with "/").
    visit(relative, false, keep);
    for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1)) {
        visit(relative.substr(0, slash), false, keep);
        visit(relative.substr(0, slash + 1), false, keep);
    }
    // Everything inside it.
    visit(relative.ends_with('/') ? relative : relative + "/", true, keep);
    if (!oldest) return;

    // A refusal is rare: its record is read again for the name it gives.
    const Phase phase = *phaseOf(*oldest);
    std::string of = originalPath;
    if (oldest != sameOriginal) {
        if (auto record = journal_->record(*oldest)) of = record->originalPath;
    }
    if (phase == Phase::returned || phase == Phase::linkMissing) throw EngineError::olderCopyOnDrive(originalPath, of);
    throw EngineError::alreadyManaged(originalPath);
}

bool HeldPlaces::isTaken(const std::string& lowercasedRelativePath) {
    load();
    bool taken = false;
    visit(lowercasedRelativePath, false, [&](int64_t) { taken = true; });
    return taken;
}

}  // namespace keldwick
