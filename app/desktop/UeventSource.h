#pragma once
// Where the drive watcher's device events come from: the kernel's uevent netlink socket in
// the program, recorded events in tests.

#include <memory>
#include <string>
#include <vector>

#include "desktop/Uevent.h"
#include "platform/SystemRoots.h"

namespace keldwick {

class UeventSource {
public:
    virtual ~UeventSource() = default;
    // Polls readable while events wait.
    virtual int descriptor() const = 0;
    // Every event waiting now, without blocking. `lost` becomes true when the source had
    // to drop events (a full socket buffer): the caller must look at every device again.
    virtual std::vector<Uevent> receive(bool& lost) = 0;
};

// The netlink socket of udevd's group when udevd runs (its control socket exists beside
// roots.udevData), so that each event comes after udevd has written the device's facts;
// the kernel's group otherwise. Events from anyone but root are dropped. Nothing, with
// the reason in `whyNot`, when the socket can't be opened (a container without netlink).
std::unique_ptr<UeventSource> openNetlinkUevents(const platform::SystemRoots& roots, std::string& whyNot);

}  // namespace keldwick
