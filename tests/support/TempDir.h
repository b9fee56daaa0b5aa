#pragma once
// A fresh folder under the system's temporary folder (or under `base` when given), removed
// with everything in it when the object goes away. Tests build their trees here and never
// touch the home.

#include <string>

namespace keldwick::test {

class TempDir {
public:
    explicit TempDir(const std::string& base = "");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + relative
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

private:
    std::string path_;
};

// Writes a file (creating parent folders), returns its path.
std::string writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
void makeDirs(const std::string& path);

}  // namespace keldwick::test
