#include "support/PlatformWords.h"

#include <algorithm>
#include <cctype>
#include <regex>

namespace keldwick::test {

std::vector<std::string> otherPlatformWords(std::string_view text) {
    static const std::vector<std::pair<std::string, std::regex>> words = [] {
        std::vector<std::pair<std::string, std::regex>> list;
        // "Mac" as a word, except in the HFS+ format's own name.
        list.emplace_back("Mac", std::regex(R"(\bMac\b(?! OS Extended))"));
        // Linux's counterpart is the Android emulator's devices.
        list.emplace_back("simulator", std::regex(R"(\b[Ss]imulators?\b)"));
        for (const char* word : {"macOS", "Finder", "iCloud", "Xcode", "APFS", "Disk Utility", "System Settings",
                                 "Full Disk Access", "xcconfig", "menu bar", "Time Machine", "RELEASING.md"}) {
            list.emplace_back(word, std::regex(std::string(R"(\b)") + word));
        }
        return list;
    }();
    std::vector<std::string> found;
    // A drive's own format, named as what it has, is no word of the other platform.
    static const std::regex driveFormat(R"(formatted as APFS\b)");
    const std::string subject = std::regex_replace(std::string(text), driveFormat, "formatted as it");
    for (const auto& [word, pattern] : words) {
        if (std::regex_search(subject, pattern)) found.push_back(word);
    }
    return found;
}

std::vector<SourceLiteral> stringLiterals(std::string_view s) {
    std::vector<SourceLiteral> literals;
    int line = 1;
    bool joinable = false;  // only blanks and comments since the last literal
    size_t i = 0;
    auto advance = [&](size_t to) {
        for (; i < to && i < s.size(); ++i) {
            if (s[i] == '\n') ++line;
        }
    };
    while (i < s.size()) {
        const char c = s[i];
        if (s.compare(i, 2, "//") == 0 || s.compare(i, 8, "#include") == 0) {
            const size_t end = s.find('\n', i);
            advance(end == std::string_view::npos ? s.size() : end);
        } else if (s.compare(i, 2, "/*") == 0) {
            const size_t end = s.find("*/", i + 2);
            advance(end == std::string_view::npos ? s.size() : end + 2);
        } else if (c == 'R' && s.compare(i, 2, "R\"") == 0 && (i == 0 || !std::isalnum(static_cast<unsigned char>(s[i - 1])))) {
            const size_t open = s.find('(', i);
            const std::string close = ")" + std::string(s.substr(i + 2, open - i - 2)) + "\"";
            const size_t end = s.find(close, open);
            const int start = line;
            std::string body(s.substr(open + 1, end - open - 1));
            advance(end + close.size());
            if (joinable && !literals.empty()) literals.back().text += body;
            else literals.push_back({start, std::move(body)});
            joinable = true;
        } else if (c == '"') {
            const int start = line;
            std::string body;
            size_t j = i + 1;
            for (; j < s.size() && s[j] != '"'; ++j) {
                if (s[j] == '\\' && j + 1 < s.size()) {
                    body += s[j];
                    ++j;
                }
                body += s[j];
            }
            advance(j + 1);
            if (joinable && !literals.empty()) literals.back().text += body;
            else literals.push_back({start, std::move(body)});
            joinable = true;
        } else if (c == '\'') {
            // A character literal (digit separators like 1'000 are skipped the same way: harmlessly).
            size_t j = i + 1;
            if (i > 0 && std::isxdigit(static_cast<unsigned char>(s[i - 1]))) {
                advance(i + 1);
                joinable = false;
                continue;
            }
            for (; j < s.size() && s[j] != '\''; ++j) {
                if (s[j] == '\\') ++j;
            }
            advance(j + 1);
            joinable = false;
        } else {
            if (!std::isspace(static_cast<unsigned char>(c))) joinable = false;
            advance(i + 1);
        }
    }
    return literals;
}

std::vector<std::filesystem::path> sourceFiles(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const auto extension = entry.path().extension();
        if (entry.is_regular_file() && (extension == ".cpp" || extension == ".h")) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace keldwick::test
