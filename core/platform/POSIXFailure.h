#pragma once
// The one error every POSIX wrapper throws: the call's short name, the path (two paths
// joined by " → " for a rename or " ⇄ " for a swap) and errno.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace keldwick {

class POSIXFailure : public std::runtime_error {
public:
    POSIXFailure(std::string operation, std::string path, int32_t code);

    const std::string& operation() const { return operation_; }
    const std::string& path() const { return path_; }
    int32_t code() const { return code_; }

    // operation + " failed for " + path + ": " + strerror(code).
    std::string description() const { return what(); }

private:
    std::string operation_;
    std::string path_;
    int32_t code_;
};

}  // namespace keldwick
