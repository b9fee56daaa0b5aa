#include "systemdata/InstalledApps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "foundation/Utf8.h"
#include "space/SystemDataDiscovery.h"

namespace keldwick {

namespace {

// Desktop files are a few kilobytes; anything far larger is not one.
constexpr qint64 maximumFileSize = 256 * 1024;

std::string environment(const char* name) {
    const QByteArray value = qgetenv(name);
    return std::string(value.constData(), size_t(value.size()));
}

std::string trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

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
    std::vector<std::string> folders;
    std::string dataHome = environment("XDG_DATA_HOME");
    if (dataHome.empty() || dataHome.front() != '/') dataHome = QDir::homePath().toStdString() + "/.local/share";
    folders.push_back(dataHome + "/applications");
    std::string dataDirs = environment("XDG_DATA_DIRS");
    if (dataDirs.empty()) dataDirs = "/usr/local/share:/usr/share";
    for (const QString& dir : QString::fromStdString(dataDirs).split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        // Relative entries are invalid and ignored, as the XDG base-directory rules say.
        if (dir.startsWith(QLatin1Char('/'))) folders.push_back(dir.toStdString() + "/applications");
    }
    return folders;
}

InstalledApps::InstalledApps(std::vector<std::string> folders) : folders_(std::move(folders)) {}

std::optional<InstalledApp> InstalledApps::read(const std::string& file) {
    QFile input(QString::fromStdString(file));
    if (input.size() > maximumFileSize || !input.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray bytes = input.read(maximumFileSize);
    InstalledApp app;
    app.file = file;
    bool inEntry = false, hidden = false;
    for (const QByteArray& rawLine : bytes.split('\n')) {
        const std::string line = trimmed(std::string_view(rawLine.constData(), size_t(rawLine.size())));
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        if (!inEntry) continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        // Localised keys ("Name[de]") differ from these and are left alone.
        const std::string key = trimmed(std::string_view(line).substr(0, equals));
        const std::string value = trimmed(std::string_view(line).substr(equals + 1));
        if (key == "Name") app.name = value;
        if (key == "Icon") app.icon = value;
        if (key == "Hidden") hidden = value == "true";
    }
    if (app.name.empty() || hidden) return std::nullopt;
    return app;
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
