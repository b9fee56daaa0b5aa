#pragma once
// Builds sysfs-like trees (devices, class/block and dev/block links, attributes) and a
// /dev folder under a temporary root, so the Linux device layers can be tested against
// the device kinds this machine doesn't have.

#include <map>
#include <string>

#include "platform/SystemRoots.h"

namespace keldwick::test {

class SysfsFixture {
public:
    explicit SysfsFixture(std::string root);

    platform::SystemRoots roots() const;
    const std::string& root() const { return root_; }

    // A device folder <sys>/devices/<relative>, with a subsystem link when one is given.
    std::string device(const std::string& relative, const std::string& subsystem = "",
                       const std::map<std::string, std::string>& attributes = {});
    void attribute(const std::string& folder, const std::string& name, const std::string& value);
    // A whole disk at <parent>/block/<name> with device number "major:minor", registered in
    // class/block and dev/block, with a /dev entry (a plain file).
    std::string disk(const std::string& parent, const std::string& name, const std::string& number,
                     const std::map<std::string, std::string>& attributes = {});
    // A partition folder inside a disk.
    std::string partition(const std::string& disk, const std::string& name, const std::string& number);
    // Runtime power management attributes of a device folder.
    void power(const std::string& folder, const std::string& status, const std::string& control,
               const std::string& delay = "2000");
    // <from>/<name> -> <to> (a relative link, so the tree can move).
    void link(const std::string& from, const std::string& name, const std::string& to);

    // Ready-made devices; each returns the disk folder.
    std::string usbDisk(const std::string& name, const std::string& number, const std::string& speed,
                        const std::string& port = "2-1");
    std::string nvmeDisk(const std::string& name, const std::string& number);
    std::string sataDisk(const std::string& name, const std::string& number, unsigned rotationRate);
    std::string virtioDisk(const std::string& name, const std::string& number);
    std::string loopDevice(const std::string& name, const std::string& number, bool attached = true);

private:
    void registerBlock(const std::string& folder, const std::string& name, const std::string& number);
    std::string root_;
};

}  // namespace keldwick::test
