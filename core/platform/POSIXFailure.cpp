#include "platform/POSIXFailure.h"

#include <cstring>

namespace keldwick {

namespace {

std::string errorText(int32_t code) {
    char buffer[256];
    // GNU strerror_r returns the text, which may or may not live in the buffer.
    return strerror_r(code, buffer, sizeof buffer);
}

}  // namespace

POSIXFailure::POSIXFailure(std::string operation, std::string path, int32_t code)
    : std::runtime_error(operation + " failed for " + path + ": " + errorText(code)),
      operation_(std::move(operation)),
      path_(std::move(path)),
      code_(code) {}

}  // namespace keldwick
