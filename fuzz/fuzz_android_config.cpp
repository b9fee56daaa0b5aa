// An Android virtual device's config.ini and the NAME.ini beside its folder, as an
// emulator (or anything writing there) left them. The input's first NUL splits the two.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzFiles.h"
#include "foundation/AndroidDevices.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string devices = [] {
        const std::string folder = keldwick::fuzz::scratchFolder() + "/avd";
        ::mkdir(folder.c_str(), 0700);
        ::mkdir((folder + "/Pixel_7_API_34.avd").c_str(), 0700);
        return folder;
    }();
    const std::string text(reinterpret_cast<const char*>(data), size);
    const size_t split = text.find('\0');
    const std::string config = text.substr(0, split);
    const std::string ini = split == std::string::npos ? std::string() : text.substr(split + 1);
    keldwick::fuzz::writeAll(devices + "/Pixel_7_API_34.avd/config.ini", reinterpret_cast<const uint8_t*>(config.data()),
                             config.size());
    keldwick::fuzz::writeAll(devices + "/Pixel_7_API_34.ini", reinterpret_cast<const uint8_t*>(ini.data()), ini.size());
    keldwick::AndroidDevice::read(devices + "/Pixel_7_API_34.avd");
    return 0;
}
