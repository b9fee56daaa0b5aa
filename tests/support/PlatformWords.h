#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace keldwick::test {

// The words of another platform that no text a user sees may use. A drive's real
// format name ("Mac OS Extended" for an HFS+ drive, "formatted as APFS") describes what
// the drive has and is allowed.
std::vector<std::string> otherPlatformWords(std::string_view text);

// The string literals of a C++ source, adjacent ones joined as the compiler joins
// them, each with the line it starts on.
struct SourceLiteral {
    int line = 0;
    std::string text;
    bool operator==(const SourceLiteral&) const = default;
};
std::vector<SourceLiteral> stringLiterals(std::string_view source);

// Every .cpp and .h under `folder`.
std::vector<std::filesystem::path> sourceFiles(const std::filesystem::path& folder);

}  // namespace keldwick::test
