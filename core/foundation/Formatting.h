#pragma once
// Texts for byte counts and names, shared by the core's messages and the program's windows.

#include <cstdint>
#include <string>
#include <string_view>

namespace keldwick {

// A byte count as the user reads it, in decimal units: "1 byte", "512 bytes",
// "1.23 MB", "45.6 GB", "999 KB". Below 1,000 the plain digits (a negative count reads
// as 0). Above, the largest unit from KB to PB that keeps the value below 999.5, with
// 2, 1 or 0 fraction digits for values below 9.995, below 99.95, and above. Written as
// the interface's English writes numbers (a decimal point, a comma between thousands),
// whatever the locale.
std::string byteCountText(int64_t bytes);

// A whole number as the interface's English writes it: "1,234", "-5".
std::string countText(int64_t count);

// A name as messages show it: between typographic double quotes, “name”.
std::string quoted(std::string_view name);

}  // namespace keldwick
