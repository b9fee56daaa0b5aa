#pragma once
// The system log's datagram socket and the pieces of a syslog(3) line: the priorities
// (LOG_ERR, LOG_USER...) come with <syslog.h>, the local time stamp and process id from here.

#include <syslog.h>

#include <string>

#include "platform/FileIO.h"

namespace keldwick::platform {

// A datagram socket connected to the listener at `socketPath` (close-on-exec); invalid
// when there is none or it refuses, with errno set.
Fd connectDatagram(const std::string& socketPath);

// Hands `bytes` to the connected socket without blocking and without a SIGPIPE: 0, or
// the errno of the refusal (EAGAIN when its buffer is full).
int sendDatagram(int fd, const std::string& bytes);

// The local time now as a syslog line stamps it: "Mmm dd hh:mm:ss" (empty if unknown).
std::string localTimeStamp();

}  // namespace keldwick::platform
