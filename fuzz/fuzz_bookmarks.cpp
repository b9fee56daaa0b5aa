// The recently-used bookmark file: XML that every desktop program appends to.
#include <string>

#include "scanning/RecentlyUsed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    keldwick::RecentlyUsed::parseBookmarks(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
