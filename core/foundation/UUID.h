#pragma once
// Random identifiers in the common 36-character text form.

#include <cstdint>
#include <string>

namespace keldwick::UUID {

// A fresh version-4 UUID in upper case, "8-4-4-4-12" hex digits (36 characters). Reads the
// kernel's random source; throws POSIXFailure ("getrandom") only if that fails.
std::string random();

// Sixteen bytes in that upper-case text form, as they are (no version bits set).
std::string text(const uint8_t (&bytes)[16]);

}  // namespace keldwick::UUID
