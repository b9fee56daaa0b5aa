#pragma once
// Random identifiers in the common 36-character text form.

#include <string>

namespace keldwick::UUID {

// A fresh version-4 UUID in upper case, "8-4-4-4-12" hex digits (36 characters). Reads the
// kernel's random source; throws POSIXFailure ("getrandom") only if that fails.
std::string random();

}  // namespace keldwick::UUID
