#include "model/ModelPorts.h"

#include <QSettings>
#include <algorithm>

#include "foundation/Log.h"
#include "foundation/PathUtil.h"
#include "foundation/SettingsFile.h"
#include "foundation/UserFolders.h"

namespace keldwick {

void postNotice(NoticePosting& notifier, const Notice& notice) {
    if (!notifier.isEnabled) return;
    // A notification server shows a notice without a summary as a bare line, or not at
    // all: every notice says at least whose it is.
    notifier.post(notice.postingIdentifier(), notice.title.empty() ? "Keldwick" : notice.title, notice.body,
                  notice.target);
}

void LoggedAlerts::present(const std::string& message, const std::string& informative) {
    Log::notice("app", message + " " + informative);
}

StoredPreferences::StoredPreferences(std::string path, bool setAside) : path_(std::move(path)), setAside_(setAside) {}

std::string StoredPreferences::defaultPath() { return PathUtil::join(UserFolders::config(), "Keldwick.conf"); }

bool StoredPreferences::canOpen() const {
    // Looked at afresh before each open: stat never blocks where an open could.
    return !path_.empty() && SettingsFile::judge(path_) != SettingsFile::State::unusable;
}

std::optional<std::string> StoredPreferences::value(const std::string& key) const {
    if (!canOpen()) return unsaved_.value(key);
    // The one file by its path: the toolkit's own lookup would also read an organisation-wide
    // file beside the folder, unjudged.
    QSettings settings(QString::fromStdString(path_), QSettings::IniFormat);
    const QVariant stored = settings.value(QString::fromStdString(key));
    if (!stored.isValid()) return std::nullopt;
    return stored.toString().toStdString();
}

void StoredPreferences::setValue(const std::string& key, const std::optional<std::string>& value) {
    if (!canOpen()) {
        unsaved_.setValue(key, value);
        return;
    }
    QSettings settings(QString::fromStdString(path_), QSettings::IniFormat);
    if (value) {
        settings.setValue(QString::fromStdString(key), QString::fromStdString(*value));
    } else {
        settings.remove(QString::fromStdString(key));
    }
}

std::optional<std::string> MemoryPreferences::value(const std::string& key) const {
    auto found = std::find_if(values_.begin(), values_.end(), [&](const auto& entry) { return entry.first == key; });
    if (found == values_.end()) return std::nullopt;
    return found->second;
}

void MemoryPreferences::setValue(const std::string& key, const std::optional<std::string>& value) {
    std::erase_if(values_, [&](const auto& entry) { return entry.first == key; });
    if (value) values_.emplace_back(key, *value);
}

}  // namespace keldwick
