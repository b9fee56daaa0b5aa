#include "support/TempDir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace keldwick::test {

TempDir::TempDir(const std::string& base) {
    const char* temporary = std::getenv("TMPDIR");
    const std::string parent = !base.empty() ? base : temporary && *temporary ? temporary : "/tmp";
    std::string pattern = parent + "/keldwick-test-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    // Tests may leave locked or unreadable entries behind; make them removable first.
    std::string command = "chattr -R -i -a '" + path_ + "' >/dev/null 2>&1; chmod -R u+rwx '" + path_ +
                          "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
        // Best effort only.
    }
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void makeDirs(const std::string& path) { std::filesystem::create_directories(path); }

std::string writeFile(const std::string& path, const std::string& bytes) {
    auto slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) makeDirs(path.substr(0, slash));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + path);
    return path;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace keldwick::test
