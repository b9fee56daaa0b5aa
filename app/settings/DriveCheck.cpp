#include "settings/DriveCheck.h"

#include <QPointer>
#include <memory>
#include <optional>

namespace keldwick {

namespace {

template <class T>
struct Result {
    std::optional<T> value;
    std::string error;
};

}  // namespace

DriveCheck::DriveCheck(Ports ports, QObject* parent) : QObject(parent), ports_(std::move(ports)) {}

void DriveCheck::setWork(DriveWork work) {
    if (work == work_) return;
    work_ = std::move(work);
    emit changed();
}

bool DriveCheck::useDrive(const DriveOption& option) {
    if (!canChangeDrive(ports_.state(), work_)) return false;
    setWork({checkingDriveText(option.volume.name), std::nullopt});
    auto result = std::make_shared<Result<std::pair<Drive, DriveProfile>>>();
    QPointer<DriveCheck> self(this);
    ports_.offload(
        [result, option, system = ports_.system] {
            try {
                result->value = option.measure(system);
            } catch (const std::exception& e) {
                result->error = e.what();
            }
        },
        [self, result, name = option.volume.name] {
            if (!self) return;
            if (result->value) {
                auto [drive, profile] = *result->value;
                self->ports_.updateSettings([drive, profile](AppSettings& settings) {
                    settings.drive = drive;
                    settings.driveProfile = profile;
                });
                self->setWork({});
            } else {
                self->setWork({std::nullopt, couldNotUseText(name, result->error)});
            }
        });
    return true;
}

bool DriveCheck::checkSpeed() {
    const ModelState& state = ports_.state();
    if (!canCheckSpeed(state, work_) || !state.settings.drive) return false;
    setWork({kCheckingSpeed, std::nullopt});
    const std::string root = *state.driveRoot;
    const std::string driveID = state.settings.drive->id;
    std::optional<DriveHardware> hardware;
    std::optional<std::string> kernelName;
    if (state.settings.driveProfile && state.settings.driveProfile->hardware) {
        hardware = state.settings.driveProfile->hardware;
    } else if (state.driveVolume) {
        kernelName = state.driveVolume->kernelName;
    }
    auto result = std::make_shared<Result<DriveProfile>>();
    QPointer<DriveCheck> self(this);
    ports_.offload(
        [result, root, hardware, kernelName, system = ports_.system] {
            try {
                DriveProfile profile;
                profile.hardware = hardware;
                if (!hardware && kernelName) profile.hardware = system.hardware(*kernelName);
                profile.benchmark = system.benchmark(root);
                result->value = std::move(profile);
            } catch (const std::exception& e) {
                result->error = e.what();
            }
        },
        [self, result, driveID] {
            if (!self) return;
            // The user chose another drive meanwhile: these speeds are not its speeds.
            const auto& chosen = self->ports_.state().settings.drive;
            if (!chosen || chosen->id != driveID) {
                self->setWork({});
                return;
            }
            if (result->value) {
                self->ports_.updateSettings(
                    [profile = *result->value](AppSettings& settings) { settings.driveProfile = profile; });
                self->setWork({});
            } else {
                self->setWork({std::nullopt, result->error});
            }
        });
    return true;
}

}  // namespace keldwick
