#pragma once
// The model's observed state and its one change signal. Everything the menu and the
// windows show is read from state(); changed(fields) says which parts moved, so an
// observer redraws on any change or picks the fields it cares about.
//
// A write through set() compares first and announces only a real change, so a refresh
// that finds nothing new notifies no one. Main thread only, like the model around it.

#include <QObject>
#include <cstdint>
#include <utility>

#include "model/ModelState.h"

namespace keldwick {

// Every field of ModelState, in declaration order.
#define KELDWICK_MODEL_STATE_FIELDS(X)                                                                          \
    X(settings) X(records) X(hasBroughtFilesBack) X(pins) X(recentlyRestored) X(computerFreeBytes) X(computerTotalBytes) \
    X(driveRoot) X(driveVolume) X(driveRefusals) X(activity) X(progress) X(wakeState) X(driveMounting)         \
    X(disks) X(canReadHome) X(foldersRefusedByMode) X(decision) X(lastRun) X(lastRunDate) X(nextCheck) X(journalProblem)         \
    X(settingsSetAside) X(settingsProblem) X(preview) X(windowRequests) X(filesProblem) X(otherDrives)          \
    X(settingsTab) X(filesTab) X(home) X(moveEntry) X(hasTray) X(started) X(lastStallNotice)    \
    X(isChecking) X(stall) X(lastAutomaticCacheClear) X(failedMoves) X(lastFailureNotice)

// What a change announcement names: a field of the state, or one of the model's objects
// and events that observers follow too (a new engine, an operation started or ended, a volume mounted
// or unmounted).
enum class ModelField : uint8_t {
#define KELDWICK_MODEL_FIELD_NAME(name) name,
    KELDWICK_MODEL_STATE_FIELDS(KELDWICK_MODEL_FIELD_NAME)
#undef KELDWICK_MODEL_FIELD_NAME
    engine,
    job,
    mounts,
};

// A set of fields.
class ModelFields {
public:
    constexpr ModelFields() = default;
    constexpr ModelFields(ModelField field) : bits_(uint64_t{1} << static_cast<unsigned>(field)) {}

    constexpr bool has(ModelField field) const { return (bits_ & ModelFields(field).bits_) != 0; }
    constexpr bool empty() const { return bits_ == 0; }
    constexpr bool intersects(ModelFields other) const { return (bits_ & other.bits_) != 0; }
    constexpr ModelFields operator|(ModelFields other) const { return ModelFields(bits_ | other.bits_); }
    constexpr ModelFields& operator|=(ModelFields other) { return *this = *this | other; }
    constexpr bool operator==(const ModelFields&) const = default;

private:
    constexpr explicit ModelFields(uint64_t bits) : bits_(bits) {}
    uint64_t bits_ = 0;
};
static_assert(static_cast<unsigned>(ModelField::mounts) < 64, "ModelFields holds 64 fields");

constexpr ModelFields operator|(ModelField a, ModelField b) { return ModelFields(a) | b; }

// The state member a field names.
template <ModelField F>
struct ModelFieldMember;
#define KELDWICK_MODEL_FIELD_MEMBER(name)                         \
    template <>                                                   \
    struct ModelFieldMember<ModelField::name> {                   \
        static constexpr auto member = &ModelState::name;         \
    };
KELDWICK_MODEL_STATE_FIELDS(KELDWICK_MODEL_FIELD_MEMBER)
#undef KELDWICK_MODEL_FIELD_MEMBER

class ModelStore final : public QObject {
    Q_OBJECT

public:
    explicit ModelStore(QObject* parent = nullptr);

    const ModelState& state() const { return state_; }

    // Stores `value` in the field and announces it, only when it differs. True when it did.
    template <ModelField F, class U>
    bool set(U&& value) {
        auto& field = state_.*ModelFieldMember<F>::member;
        if (field == value) return false;
        field = std::forward<U>(value);
        announce(F);
        return true;
    }

    // Lets `edit` change the state in place, then announces `fields` whatever it did: for
    // writes that always notify (a fresh window request) and for setting up a state nobody
    // observes yet.
    template <class Edit>
    void edit(ModelFields fields, Edit&& edit) {
        std::forward<Edit>(edit)(state_);
        announce(fields);
    }

    // Announces `fields` without touching the state (the objects and events beside it).
    void announce(ModelFields fields);

signals:
    void changed(keldwick::ModelFields fields);

private:
    ModelState state_;
};

}  // namespace keldwick

Q_DECLARE_METATYPE(keldwick::ModelFields)
