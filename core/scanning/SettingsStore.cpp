#include "scanning/SettingsStore.h"

#include <locale.h>
#include <stdlib.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "foundation/AtomicFile.h"
#include "foundation/FileOps.h"
#include "foundation/JsonFields.h"
#include "foundation/Log.h"
#include "foundation/SettingsFile.h"
#include "platform/FileIO.h"
#include "platform/POSIXFailure.h"

namespace keldwick {

namespace {

// A settings file is a few kilobytes. The bound also caps the memory its parse can take,
// which is many times the text for a hostile file.
constexpr size_t maximumSize = SettingsFile::kMaximumSize;

std::string parentOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return "";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// A number too large for a double (an edited "1e999") would make the JSON parser reject
// the whole file. Such a number is read as null instead, so only its own field falls back
// to its default (or, inside the drive profile, the profile is dropped). Parsed in the C
// locale: the program's locale may use a decimal comma.
std::string overflowingNumbersAsNull(const std::string& text) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    std::string out;
    out.reserve(text.size());
    bool inString = false;
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (inString) {
            out += c;
            if (c == '\\' && i + 1 < text.size()) {
                out += text[i + 1];
                i += 2;
                continue;
            }
            if (c == '"') inString = false;
            ++i;
            continue;
        }
        if (c == '"') inString = true;
        if (c != '-' && (c < '0' || c > '9')) {
            out += c;
            ++i;
            continue;
        }
        size_t end = i + 1;
        while (end < text.size() && (std::isdigit(static_cast<unsigned char>(text[end])) ||
                                     (text[end] != '\0' && std::strchr("+-.eE", text[end]) != nullptr)))
            ++end;
        const std::string token = text.substr(i, end - i);
        const double value = cLocale ? strtod_l(token.c_str(), nullptr, cLocale) : 0;
        out += std::isinf(value) ? "null" : token;
        i = end;
    }
    return out;
}

}  // namespace

SettingsStore::FileState SettingsStore::inspect(AppSettings* decoded) const {
    std::string bytes;
    try {
        // A link to the real file (a dotfile manager's) is followed; nothing else is opened.
        bytes = SettingsFile::read(path, maximumSize);
        auto json = nlohmann::json::parse(overflowingNumbersAsNull(bytes));
        AppSettings settings = AppSettings::fromJson(json);
        if (decoded) *decoded = std::move(settings);
        return FileState::readable;
    } catch (const POSIXFailure& failure) {
        if (failure.code() == ENOENT || failure.code() == ENOTDIR) return FileState::missing;
        Log::error("settings", std::string("settings file can't be read: ") + failure.what());
    } catch (const nlohmann::json::exception& error) {
        Log::error("settings", std::string("settings file can't be decoded: ") + error.what());
    } catch (const JsonFields::Mismatch& error) {
        Log::error("settings", std::string("settings file can't be decoded: ") + error.what());
    }
    switch (SettingsFile::setAside(path)) {
        case SettingsFile::Aside::moved: return FileState::moved;
        case SettingsFile::Aside::missing: return FileState::missing;
        case SettingsFile::Aside::stuck: break;
    }
    return FileState::stuck;
}

AppSettings SettingsStore::load(bool* setAside) const {
    AppSettings settings;
    const FileState state = inspect(&settings);
    if (setAside) *setAside = state == FileState::moved;
    if (state == FileState::readable) settings.normalize();
    else settings = AppSettings();
    return settings;
}

void SettingsStore::save(const AppSettings& settings) const {
    if (std::string folder = parentOf(path); !folder.empty()) createDirectory(folder);
    if (inspect(nullptr) == FileState::stuck)
        throw std::runtime_error("The settings file at " + path +
                                 " can't be read and can't be moved aside, so it was left as it is.");
    std::string text;
    try {
        text = settings.toJson().dump(2) + "\n";
    } catch (const nlohmann::json::exception&) {
        throw std::runtime_error("The settings can't be saved: a folder name has characters that can't be recorded.");
    }
    AtomicFile::write(path, text, 0600);
}

}  // namespace keldwick
