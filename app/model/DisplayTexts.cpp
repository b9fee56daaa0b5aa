#include "model/DisplayTexts.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "foundation/Formatting.h"
#include "foundation/PathUtil.h"
#include "foundation/AndroidDevices.h"

namespace keldwick {

namespace {

std::string countedNoun(int64_t count, const char* singular, const char* plural) {
    if (count == 1) return std::string("1 ") + singular;
    return countText(count) + " " + plural;
}

}  // namespace

std::string fileFolderCountText(int64_t files, int64_t folders) {
    std::string filepart = countedNoun(files, "file", "files");
    if (folders == 0) return filepart;
    std::string folderPart = countedNoun(folders, "folder", "folders");
    if (files == 0) return folderPart;
    return filepart + " and " + folderPart;
}

std::string recordCountText(const std::vector<OffloadRecord>& records) {
    int64_t folders = 0;
    for (const auto& record : records) {
        if (record.isDirectory) ++folders;
    }
    return fileFolderCountText(static_cast<int64_t>(records.size()) - folders, folders);
}

std::string gigabytesText(int64_t bytes) {
    const double gigabytes = static_cast<double>(bytes) / 1e9;
    if (gigabytes >= 10) return std::to_string(std::llround(gigabytes)) + " GB";
    // to_chars ignores the locale, which the program sets from the environment at start.
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, gigabytes, std::chars_format::fixed, 1);
    return std::string(buffer, result.ptr) + " GB";
}

std::string folderDisplayName(const std::string& path, const std::string& home) {
    if (path == home) return "Home folder";
    if (path == AndroidDevices::devicesFolder(home)) return "Android emulators";
    const std::string prefix = home + "/";
    if (path.compare(0, prefix.size(), prefix) != 0) return path;
    std::string text;
    size_t start = prefix.size();
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) {
            if (!text.empty()) text += " \u203A ";
            text.append(path, start, end - start);
        }
        start = end + 1;
    }
    return text;
}

ContentType contentTypeForPath(const std::string& name, bool isFolder) {
    std::string extension = pathExtension(name);
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (isFolder) {
        // A folder whose name merely looks like a file's ("Photos.png") is a folder; a
        // package ("Mail.app") keeps its own type.
        if (!extension.empty()) {
            if (auto type = ContentType::forExtension(extension, ContentType::package)) return *type;
        }
        return ContentType::folder;
    }
    if (!extension.empty()) {
        if (auto type = ContentType::forExtension(extension, ContentType::data)) return *type;
    }
    return ContentType::data;
}

std::string folderProblemText(const std::string& problem) {
    return "Keldwick leaves this folder alone: " + problem + ".";
}

}  // namespace keldwick
