// ~/.config/user-dirs.dirs, as the user or a desktop tool wrote it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "foundation/XdgUserDirs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    keldwick::XdgUserDirs::parse(text, "/home/someone");
    keldwick::XdgUserDirs::parse(text, "/");
    return 0;
}
