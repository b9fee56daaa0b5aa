#include "systemdata/InstalledApps.h"

#include <QFile>
#include <QFileInfo>

#include "foundation/DesktopEntries.h"
#include "foundation/UserFolders.h"
#include "foundation/Utf8.h"
#include "space/SystemDataDiscovery.h"

namespace keldwick {

namespace {

// Desktop files are a few kilobytes; anything far larger is not one.
constexpr qint64 maximumFileSize = 256 * 1024;

// The file's name without ".desktop", lower-cased: "steam" for ".../steam.desktop".
std::string fileKey(const std::string& file) {
    std::string name = QFileInfo(QString::fromStdString(file)).fileName().toStdString();
    const std::string suffix = ".desktop";
    if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
        name.resize(name.size() - suffix.size());
    }
    return Utf8::lowercased(name);
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::vector<std::string> InstalledApps::applicationFolders() {
    return SystemData::Places::of(UserFolders::home()).applicationFolders;
}

InstalledApps::InstalledApps(std::vector<std::string> folders) : folders_(std::move(folders)) {}

std::optional<InstalledApp> InstalledApps::read(const std::string& file) {
    QFile input(QString::fromStdString(file));
    if (input.size() > maximumFileSize || !input.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray bytes = input.read(maximumFileSize);
    const auto entry = DesktopEntry::parse(std::string_view(bytes.constData(), size_t(bytes.size())), {});
    if (!entry) return std::nullopt;
    return InstalledApp{file, entry->name, entry->icon};
}

void InstalledApps::load() {
    loaded_ = true;
    for (const std::string& folder : folders_) {
        for (const std::string& name : SystemData::listFolder(folder)) {
            if (!name.ends_with(".desktop")) continue;
            if (auto app = read(folder + "/" + name)) apps_.push_back(std::move(*app));
        }
    }
}

std::optional<InstalledApp> InstalledApps::match(const std::string& itemName) {
    if (!loaded_) load();
    const std::string wanted = Utf8::lowercased(itemName);
    if (wanted.empty()) return std::nullopt;
    for (const InstalledApp& app : apps_) {
        if (fileKey(app.file) == wanted || Utf8::lowercased(app.name) == wanted) return app;
    }
    const std::string prefix = wanted + " ";
    for (const InstalledApp& app : apps_) {
        if (startsWith(fileKey(app.file), prefix) || startsWith(Utf8::lowercased(app.name), prefix)) return app;
    }
    return std::nullopt;
}

QIcon InstalledApps::icon(const std::string& itemName) {
    if (auto known = icons_.find(itemName); known != icons_.end()) return known->second;
    QIcon icon;
    if (const auto app = match(itemName); app && !app->icon.empty()) {
        const QString name = QString::fromStdString(app->icon);
        if (name.startsWith(QLatin1Char('/'))) {
            if (QFileInfo(name).isFile()) icon = QIcon(name);
        } else {
            icon = QIcon::fromTheme(name);
        }
    }
    icons_.emplace(itemName, icon);
    return icon;
}

}  // namespace keldwick
