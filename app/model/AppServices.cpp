#include "model/AppServices.h"

#include "drives/DriveHardware.h"
#include "foundation/HomeAccess.h"
#include "foundation/VolumeSpace.h"
#include "model/OtherDrives.h"

namespace keldwick {

SystemFacts SystemFacts::live() {
    SystemFacts facts;
    facts.availableBytes = [](const std::string& path) { return VolumeSpace::availableBytes(path); };
    facts.totalBytes = [](const std::string& path) { return VolumeSpace::totalBytes(path); };
    facts.homeAccess = [](const std::string& home, const std::vector<std::string>& managed) {
        return HomeAccess::read(home, managed);
    };
    facts.sandbox = HomeAccess::sandbox();
    facts.volumeInfo = [](const std::string& mountPath) { return VolumeInfo::read(mountPath); };
    facts.driveNameAt = [](const std::string& mountPath) { return keldwick::driveNameAt(mountPath); };
    facts.powerState = [](const std::string& kernelName) { return DriveHardware::powerState(kernelName); };
    facts.iconPlacing = [](const std::string&) -> std::shared_ptr<IconPlacing> { return nullptr; };
    return facts;
}

AppServices::AppServices() = default;

}  // namespace keldwick
