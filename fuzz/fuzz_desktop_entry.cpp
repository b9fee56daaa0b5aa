// An application's desktop entry, as any installed package (or the user) can write it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "foundation/DesktopEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto entry = keldwick::DesktopEntry::parse(text, "org.example.App")) {
        entry->keeps("App");
        entry->keeps("");
    }
    return 0;
}
