#pragma once
// The system's types the layers above name in their own headers (mode_t, off_t, uid_t,
// struct stat), so that those headers need no system header of their own.

#include <sys/stat.h>
#include <sys/types.h>
