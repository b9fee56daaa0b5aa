#include "foundation/AtomicFile.h"

#include <cerrno>
#include <random>

#include "platform/FileIO.h"
#include "platform/FileReading.h"
#include "platform/FileStatus.h"
#include "platform/POSIXFailure.h"

namespace keldwick::AtomicFile {

namespace {

std::string parentOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string randomSuffix() {
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (int i = 0; i < 12; ++i) s.push_back(digits[generator() % 16]);
    return s;
}

}  // namespace

void write(const std::string& path, std::string_view bytes, mode_t mode) {
    const std::string folder = parentOf(path);
    const auto slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temporary;
    platform::FileSystemCalls& calls = platform::calls();
    platform::Fd file;
    for (int attempt = 0; attempt < 16 && !file; ++attempt) {
        temporary = folder + "/." + name + ".keldwick-write-" + randomSuffix();
        file.reset(calls.openAt(AT_FDCWD, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (!file && errno != EEXIST) throw POSIXFailure("create", temporary, errno);
    }
    if (!file) throw POSIXFailure("create", temporary, EEXIST);

    auto fail = [&](const char* operation, int code) {
        calls.unlinkAt(AT_FDCWD, temporary.c_str(), 0);
        throw POSIXFailure(operation, operation == std::string("rename") ? temporary + " → " + path : temporary,
                           code);
    };
    // umask may have narrowed the mode given to open.
    if (calls.fchmod(file.get(), mode) != 0) fail("chmod", errno);
    size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = calls.write(file.get(), bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("write", errno);
        }
        written += static_cast<size_t>(n);
    }
    if (calls.fsync(file.get()) != 0) fail("fsync", errno);
    if (platform::closeReporting(file) != 0) fail("close", errno);
    if (calls.renameAt(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), 0) != 0) fail("rename", errno);
    platform::flushFolder(folder);
}

std::string read(const std::string& path, size_t maxBytes) {
    platform::Fd file = platform::openRead(path, O_NOFOLLOW | O_NONBLOCK);
    if (!file) throw POSIXFailure("open", path, errno);
    return readOpen(file, path, maxBytes);
}

std::string readOpen(const platform::Fd& file, const std::string& path, size_t maxBytes) {
    struct stat st {};
    if (platform::statusOf(file.get(), st) != 0) throw POSIXFailure("stat", path, errno);
    if (!S_ISREG(st.st_mode)) throw POSIXFailure("open", path, EINVAL);
    if (static_cast<uint64_t>(st.st_size) > maxBytes) throw POSIXFailure("read", path, EFBIG);
    std::string bytes;
    char buffer[65536];
    for (;;) {
        ssize_t n = platform::readSome(file.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw POSIXFailure("read", path, errno);
        }
        if (n == 0) break;
        if (bytes.size() + static_cast<size_t>(n) > maxBytes) throw POSIXFailure("read", path, EFBIG);
        bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
}

}  // namespace keldwick::AtomicFile
