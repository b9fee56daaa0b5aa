#include "foundation/DesktopEntries.h"

#include <algorithm>
#include <set>

#include "foundation/AtomicFile.h"
#include "foundation/FileOps.h"
#include "foundation/PathUtil.h"
#include "foundation/Utf8.h"
#include "platform/FileIO.h"

namespace keldwick {

namespace {

// Desktop files are a few kilobytes; anything far larger is not one.
constexpr size_t kMaxEntryBytes = 256 * 1024;
constexpr std::string_view kSuffix = ".desktop";

std::string_view trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The words of an Exec line as far as its program: a word may be double-quoted, and
// "env NAME=value ... program" runs `program`.
std::string programOf(std::string_view exec) {
    auto nextWord = [&exec]() -> std::string {
        exec = trimmed(exec);
        std::string word;
        if (!exec.empty() && exec.front() == '"') {
            size_t i = 1;
            for (; i < exec.size() && exec[i] != '"'; ++i) {
                if (exec[i] == '\\' && i + 1 < exec.size()) ++i;
                word += exec[i];
            }
            exec.remove_prefix(std::min(exec.size(), i + 1));
            return word;
        }
        const size_t end = exec.find_first_of(" \t");
        word = std::string(exec.substr(0, end));
        exec.remove_prefix(end == std::string_view::npos ? exec.size() : end);
        return word;
    };
    std::string word = nextWord();
    if (PathUtil::name(word) == "env") {
        do {
            word = nextWord();
        } while (word.find('=') != std::string::npos);
    }
    return word.empty() ? word : PathUtil::name(word);
}

bool equalIgnoringCase(const std::string& lowered, std::string_view other) {
    return !other.empty() && lowered == Utf8::lowercased(other);
}

}  // namespace

std::optional<DesktopEntry> DesktopEntry::parse(std::string_view text, std::string id) {
    DesktopEntry entry;
    entry.id = std::move(id);
    bool inEntry = false, hidden = false;
    while (!text.empty()) {
        const size_t newline = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, newline));
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        const size_t equals = line.find('=');
        if (!inEntry || equals == std::string_view::npos) continue;
        // Localised keys ("Name[de]") differ from these and are left alone.
        const std::string_view key = trimmed(line.substr(0, equals));
        const std::string_view value = trimmed(line.substr(equals + 1));
        if (key == "Name") entry.name = value;
        if (key == "StartupWMClass") entry.startupWMClass = value;
        if (key == "Exec") entry.program = programOf(value);
        if (key == "Icon") entry.icon = value;
        if (key == "Hidden") hidden = value == "true";
    }
    if (entry.name.empty() || hidden) return std::nullopt;
    return entry;
}

bool DesktopEntry::keeps(std::string_view folder) const {
    const std::string wanted = Utf8::lowercased(folder);
    if (wanted.empty()) return false;
    return equalIgnoringCase(wanted, id) || equalIgnoringCase(wanted, startupWMClass) ||
           equalIgnoringCase(wanted, program);
}

namespace DesktopEntries {

std::vector<std::string> applicationFolders(const std::string& dataHome, std::string_view dataDirs) {
    std::vector<std::string> folders = {PathUtil::join(dataHome, "applications")};
    if (dataDirs.empty()) dataDirs = "/usr/local/share:/usr/share";
    while (!dataDirs.empty()) {
        const size_t colon = dataDirs.find(':');
        const std::string_view dir = dataDirs.substr(0, colon);
        dataDirs.remove_prefix(colon == std::string_view::npos ? dataDirs.size() : colon + 1);
        // Relative entries are invalid and ignored, as the XDG base-directory rules say.
        if (!dir.empty() && dir.front() == '/') folders.push_back(PathUtil::join(std::string(dir), "applications"));
    }
    return folders;
}

std::vector<DesktopEntry> read(const std::vector<std::string>& folders) {
    std::vector<DesktopEntry> entries;
    std::set<std::string> seen;
    for (const std::string& folder : folders) {
        std::vector<std::string> names;
        try {
            names = listDirectory(folder);
        } catch (...) {
            continue;
        }
        for (const std::string& name : names) {
            if (name.size() <= kSuffix.size() || !name.ends_with(kSuffix)) continue;
            std::string id = name.substr(0, name.size() - kSuffix.size());
            if (!seen.insert(id).second) continue;
            try {
                // Entries are often links into a package's own folder: follow them.
                platform::Fd file = platform::openRead(PathUtil::join(folder, name), O_NONBLOCK);
                if (!file) continue;
                const std::string text = AtomicFile::readOpen(file, PathUtil::join(folder, name), kMaxEntryBytes);
                if (auto entry = DesktopEntry::parse(text, std::move(id))) entries.push_back(std::move(*entry));
            } catch (...) {
                // Unreadable, not a regular file or too large: no entry.
            }
        }
    }
    return entries;
}

std::optional<std::string> appNameFor(const std::vector<DesktopEntry>& entries, std::string_view folder) {
    for (const DesktopEntry& entry : entries) {
        if (entry.keeps(folder)) return entry.name;
    }
    return std::nullopt;
}

}  // namespace DesktopEntries
}  // namespace keldwick
