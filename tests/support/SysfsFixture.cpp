#include "support/SysfsFixture.h"

#include <filesystem>

#include "support/TempDir.h"

namespace keldwick::test {

namespace fs = std::filesystem;

SysfsFixture::SysfsFixture(std::string root) : root_(std::move(root)) {
    makeDirs(root_ + "/sys/devices/virtual/block");
    makeDirs(root_ + "/sys/class/block");
    makeDirs(root_ + "/sys/dev/block");
    makeDirs(root_ + "/sys/bus");
    makeDirs(root_ + "/dev");
    makeDirs(root_ + "/udev");
}

platform::SystemRoots SysfsFixture::roots() const {
    platform::SystemRoots roots;
    roots.sys = root_ + "/sys";
    roots.dev = root_ + "/dev";
    roots.udevData = root_ + "/udev";
    roots.mountinfo = root_ + "/mountinfo";
    roots.proc = root_ + "/proc";
    return roots;
}

void SysfsFixture::link(const std::string& from, const std::string& name, const std::string& to) {
    makeDirs(from);
    fs::path target = fs::relative(fs::path(to), fs::path(from));
    std::error_code ignored;
    fs::remove(fs::path(from) / name, ignored);
    fs::create_symlink(target, fs::path(from) / name);
}

void SysfsFixture::attribute(const std::string& folder, const std::string& name, const std::string& value) {
    writeFile(folder + "/" + name, value + "\n");
}

std::string SysfsFixture::device(const std::string& relative, const std::string& subsystem,
                                 const std::map<std::string, std::string>& attributes) {
    std::string folder = root_ + "/sys/devices/" + relative;
    makeDirs(folder);
    if (!subsystem.empty()) {
        makeDirs(root_ + "/sys/bus/" + subsystem);
        link(folder, "subsystem", root_ + "/sys/bus/" + subsystem);
    }
    for (const auto& [name, value] : attributes) attribute(folder, name, value);
    return folder;
}

void SysfsFixture::registerBlock(const std::string& folder, const std::string& name, const std::string& number) {
    makeDirs(root_ + "/sys/class/block");
    link(root_ + "/sys/class/block", name, folder);
    link(root_ + "/sys/dev/block", number, folder);
    attribute(folder, "dev", number);
    makeDirs(root_ + "/sys/bus/block");
    link(folder, "subsystem", root_ + "/sys/bus/block");
    writeFile(root_ + "/dev/" + name, "");
}

std::string SysfsFixture::disk(const std::string& parent, const std::string& name, const std::string& number,
                               const std::map<std::string, std::string>& attributes) {
    std::string folder = parent + "/block/" + name;
    makeDirs(folder + "/queue");
    registerBlock(folder, name, number);
    if (parent.find("/virtual") == std::string::npos) link(folder, "device", parent);
    attribute(folder, "removable", "0");
    attribute(folder + "/queue", "rotational", "1");  // the kernel's default
    attribute(folder, "stat", "1 0 8 0 0 0 0 0 0 0 0");
    power(folder, "unsupported", "auto");
    for (const auto& [attributeName, value] : attributes) attribute(folder, attributeName, value);
    return folder;
}

std::string SysfsFixture::partition(const std::string& disk, const std::string& name, const std::string& number) {
    std::string folder = disk + "/" + name;
    makeDirs(folder);
    registerBlock(folder, name, number);
    attribute(folder, "partition", "1");
    power(folder, "unsupported", "auto");
    return folder;
}

void SysfsFixture::power(const std::string& folder, const std::string& status, const std::string& control,
                         const std::string& delay) {
    attribute(folder + "/power", "runtime_status", status);
    attribute(folder + "/power", "control", control);
    attribute(folder + "/power", "autosuspend_delay_ms", delay);
}

std::string SysfsFixture::usbDisk(const std::string& name, const std::string& number, const std::string& speed,
                                  const std::string& port) {
    device("pci0000:00/0000:00:14.0", "pci", {{"vendor", "0x8086"}});
    device("pci0000:00/0000:00:14.0/usb2", "usb", {{"speed", "10000"}, {"idVendor", "1d6b"}});
    std::string usb = device("pci0000:00/0000:00:14.0/usb2/" + port, "usb",
                             {{"speed", speed}, {"idVendor", "0781"}, {"manufacturer", "SanDisk"},
                              {"product", "Extreme 55AE"}});
    power(usb, "active", "auto");
    std::string interface = device("pci0000:00/0000:00:14.0/usb2/" + port + "/" + port + ":1.0", "usb");
    std::string host = device(interface.substr(root_.size() + 13) + "/host6", "scsi");
    std::string target = device(host.substr(root_.size() + 13) + "/target6:0:0", "scsi");
    std::string scsi = device(target.substr(root_.size() + 13) + "/6:0:0:0", "scsi",
                              {{"vendor", "SanDisk "}, {"model", "Extreme 55AE    "}});
    power(scsi, "active", "on");
    return disk(scsi, name, number);
}

std::string SysfsFixture::nvmeDisk(const std::string& name, const std::string& number) {
    device("pci0000:00/0000:00:1d.0/0000:3d:00.0", "pci", {{"vendor", "0x144d"}});
    std::string controller = device("pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0", "nvme",
                                    {{"model", "Samsung SSD 970 EVO Plus 1TB           "}});
    return disk(controller, name, number, {{"queue/rotational", "0"}});
}

std::string SysfsFixture::sataDisk(const std::string& name, const std::string& number, unsigned rotationRate) {
    device("pci0000:00/0000:00:17.0", "pci", {{"vendor", "0x8086"}});
    device("pci0000:00/0000:00:17.0/ata1");  // ATA ports have no bus link
    device("pci0000:00/0000:00:17.0/ata1/host0", "scsi");
    device("pci0000:00/0000:00:17.0/ata1/host0/target0:0:0", "scsi");
    std::string scsi = device("pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0", "scsi",
                              {{"vendor", "ATA     "}, {"model", "WDC WD40EFRX-68N"}});
    std::string page("\x00\xb1\x00\x3c", 4);
    page.push_back(static_cast<char>(rotationRate >> 8));
    page.push_back(static_cast<char>(rotationRate & 0xff));
    page.append(58, '\0');
    writeFile(scsi + "/vpd_pg_b1", page);
    return disk(scsi, name, number);
}

std::string SysfsFixture::virtioDisk(const std::string& name, const std::string& number) {
    device("pci0000:00/0000:00:02.0", "pci", {{"vendor", "0x1af4"}});
    std::string virtio = device("pci0000:00/0000:00:02.0/virtio1", "virtio", {{"vendor", "0x554d4551"}});
    power(virtio, "unsupported", "auto");
    return disk(virtio, name, number);
}

std::string SysfsFixture::loopDevice(const std::string& name, const std::string& number, bool attached) {
    std::string folder = disk(root_ + "/sys/devices/virtual", name, number, {{"queue/rotational", "0"}});
    makeDirs(folder + "/loop");
    if (attached) attribute(folder + "/loop", "backing_file", "/home/ann/images/Installer.img");
    return folder;
}

}  // namespace keldwick::test
