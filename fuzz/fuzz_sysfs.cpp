// The facts sysfs and the udev database give about a disk. Pieces of the input, split at
// NUL bytes, become the attribute files of a USB disk with one partition.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzFiles.h"
#include "platform/BlockDevices.h"
#include "platform/Sysfs.h"
#include "platform/SysfsDeviceRegistry.h"
#include "support/SysfsFixture.h"

namespace {

struct Tree {
    keldwick::test::SysfsFixture fixture{keldwick::fuzz::scratchFolder() + "/system"};
    std::vector<std::string> files;

    Tree() {
        const std::string disk = fixture.usbDisk("sdb", "8:16", "5000");
        const std::string partition = fixture.partition(disk, "sdb1", "8:17");
        const std::string scsi = keldwick::platform::Sysfs::parent(keldwick::platform::Sysfs::parent(disk));
        const std::string usb = keldwick::platform::Sysfs::parent(keldwick::platform::Sysfs::parent(keldwick::platform::Sysfs::parent(
            keldwick::platform::Sysfs::parent(scsi))));
        const auto roots = fixture.roots();
        std::filesystem::create_directories(roots.udevData);
        files = {roots.udevData + "/b8:17",
                 roots.udevData + "/b8:16",
                 disk + "/stat",
                 disk + "/removable",
                 disk + "/queue/rotational",
                 disk + "/device/vpd_pg_b1",
                 scsi + "/model",
                 scsi + "/vendor",
                 usb + "/speed",
                 usb + "/power/runtime_status",
                 usb + "/power/control",
                 usb + "/power/autosuspend_delay_ms",
                 partition + "/dev"};
        for (const auto& file : files) std::filesystem::create_directories(keldwick::platform::Sysfs::parent(file));
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Tree tree;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    for (const auto& file : tree.files) {
        const size_t end = rest.find('\0');
        const std::string_view piece = rest.substr(0, end);
        keldwick::fuzz::writeAll(file, reinterpret_cast<const uint8_t*>(piece.data()), piece.size());
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    const auto roots = tree.fixture.roots();
    keldwick::platform::BlockDevices::identify("sdb1", roots);
    keldwick::platform::BlockDevices::identify("sdb", roots);
    keldwick::platform::BlockDevices::nameForNumber(8, 17, roots);
    keldwick::platform::BlockDevices::decodeUdevEscapes(std::string_view(reinterpret_cast<const char*>(data), size));
    keldwick::platform::SysfsDeviceRegistry registry(roots, [] { return int64_t(0); });
    registry.characteristics("sdb1");
    registry.powerEntries("sdb1");
    return 0;
}
