#pragma once
// The netlink socket on which the kernel, or udevd after it, announces devices coming
// and going.

#include <sys/types.h>

#include <cstddef>

#include "platform/FileIO.h"

namespace keldwick::platform {

// A non-blocking, close-on-exec socket joined to the kernel's uevent group, or udevd's
// when `fromUdev`, with senders' credentials asked for and a large receive buffer (a hub
// announces dozens of devices at once). On failure the Fd is invalid, `step` names the
// call that failed ("open" or "bind") and errno says why.
Fd openUeventSocket(bool fromUdev, const char*& step);

// One waiting datagram into `buffer`, without waiting: its length, or -1 with errno set as
// recvmsg(2) sets it (EAGAIN: nothing waits; ENOBUFS: events were dropped). `trusted` says
// whether it came whole from root (the kernel sends as port 0, udevd runs as root):
// anyone else could forge events.
ssize_t receiveUevent(int fd, bool fromUdev, char* buffer, std::size_t size, bool& trusted);

}  // namespace keldwick::platform
