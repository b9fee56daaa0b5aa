#include "scanning/SettingsStore.h"

#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "foundation/AtomicFile.h"
#include "foundation/FileOps.h"
#include "foundation/JsonFields.h"
#include "foundation/Log.h"
#include "foundation/POSIXFailure.h"

namespace keldwick {

namespace {

constexpr size_t maximumSize = 16u << 20;  // a settings file is a few kilobytes

std::string parentOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return "";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

SettingsStore::FileState SettingsStore::inspect(AppSettings* decoded) const {
    std::string bytes;
    try {
        bytes = AtomicFile::read(path, maximumSize);
        auto json = nlohmann::json::parse(bytes);
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
    const std::string aside = path + ".corrupt";
    ::unlink(aside.c_str());
    if (::rename(path.c_str(), aside.c_str()) != 0) {
        int code = errno;
        if (code == ENOENT) return FileState::missing;
        Log::error("settings", POSIXFailure("rename", path + " → " + aside, code).what());
        return FileState::stuck;
    }
    Log::notice("settings", "moved the damaged settings file aside to " + aside);
    return FileState::moved;
}

AppSettings SettingsStore::load() const {
    AppSettings settings;
    if (inspect(&settings) == FileState::readable) settings.normalize();
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
    AtomicFile::write(path, text, 0644);
}

}  // namespace keldwick
