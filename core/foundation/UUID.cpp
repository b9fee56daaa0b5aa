#include "foundation/UUID.h"

#include <cerrno>
#include <cstdint>

#include "platform/POSIXFailure.h"
#include "platform/ProcessFacts.h"

namespace keldwick::UUID {

std::string random() {
    uint8_t bytes[16];
    size_t filled = 0;
    while (filled < sizeof bytes) {
        ssize_t n = platform::randomBytes(bytes + filled, sizeof bytes - filled);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw POSIXFailure("getrandom", "", errno);
        }
        filled += static_cast<size_t>(n);
    }
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return text(bytes);
}

std::string text(const uint8_t (&bytes)[16]) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
        out.push_back(digits[bytes[i] >> 4]);
        out.push_back(digits[bytes[i] & 0x0F]);
    }
    return out;
}

}  // namespace keldwick::UUID
