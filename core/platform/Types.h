#pragma once
// The system's plain types (mode_t, uid_t, off_t, struct stat...) for headers outside the
// platform layer that pass them along: they come through here, not from system headers.

#include <sys/stat.h>
#include <sys/types.h>
