#include "foundation/SystemData.h"

#include <string_view>

#include "foundation/PathUtil.h"

namespace keldwick::SystemData {

const std::unordered_set<std::string>& ownFolders() {
    static const std::unordered_set<std::string> names = {"Keldwick", "Marrowfen"};
    return names;
}

const std::vector<std::string>& systemAppFolders() {
    static const std::vector<std::string> names = {
        "AddressBook",         "Animoji",           "App Store",           "Apple",
        "AppleMediaServices",  "AskPermission",     "Books",               "CallHistoryDB",
        "CallHistoryTransactions", "CloudDocs",     "ControlCenter",       "CoreParsec",
        "CrashReporter",       "DifferentialPrivacy", "DiskImages",        "Dock",
        "FaceTime",            "FileProvider",      "GameKit",             "Home",
        "Instruments",         "Knowledge",         "Mail",                "Maps",
        "Messages",            "MobileSync",        "Music",               "News",
        "Photos",              "Podcasts",          "Quick Look",          "SESStorage",
        "Safari",              "ScreenTimeAgent",   "Shortcuts",           "Siri",
        "Spotlight",           "SyncServices",      "TV",                  "TextInput",
        "Xcode",               "accountsd",         "appplaceholdersyncd", "assistant_service",
        "contactsd",           "familycircled",     "homeenergyd",         "iCloud",
        "iLifeMediaBrowser",   "iTunes",            "icdd",                "icloudmailagent",
        "identityservicesd",   "locationaccessstored", "networkserviceproxy", "tipsd",
        "transparencyd",       "videosubscriptionsd",
    };
    return names;
}

bool isSystemAppFolder(const std::string& name) {
    static const std::unordered_set<std::string> set(systemAppFolders().begin(), systemAppFolders().end());
    return set.count(name) != 0;
}

const std::vector<HiddenModelFolder>& hiddenModelFolders() {
    static const std::vector<HiddenModelFolder> folders = {
        {".ollama/models", "Ollama models"},
        {".cache/huggingface", "Hugging Face models"},
        {".lmstudio/models", "LM Studio models"},
        {".cache/lm-studio/models", "LM Studio models"},
    };
    return folders;
}

bool isOpenToChosen(const std::string& path, const std::string& home) {
    for (const auto& folder : hiddenModelFolders()) {
        if (PathUtil::isInside(path, PathUtil::join(home, folder.relativePath))) return true;
    }
    if (const std::string emulators = PathUtil::join(home, kEmulatorFolder);
        path != emulators && PathUtil::isInside(path, emulators)) {
        return true;
    }
    const std::string support = home + "/" + "Library/Application Support";
    const std::string backups = support + "/" + "MobileSync/Backup";
    const std::string archives = home + "/" + "Library/Developer/Xcode/Archives";
    if (PathUtil::isInside(path, backups)) return true;
    if (PathUtil::isInside(path, archives)) return true;
    if (path == support || !PathUtil::isInside(path, support)) return false;
    std::string_view rest = std::string_view(path).substr(support.size() + 1);
    std::string app(rest.substr(0, rest.find('/')));
    // "support/" or "support//x" names no app folder: it is the support folder itself.
    if (app.empty()) return false;
    if (app.rfind("com.apple.", 0) == 0 || isSystemAppFolder(app)) return false;
    return ownFolders().count(app) == 0;
}

}  // namespace keldwick::SystemData
