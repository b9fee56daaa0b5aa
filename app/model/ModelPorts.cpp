#include "model/ModelPorts.h"

#include <QSettings>
#include <algorithm>

#include "foundation/Log.h"

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

std::optional<std::string> StoredPreferences::value(const std::string& key) const {
    QSettings settings(QStringLiteral("Keldwick"), QStringLiteral("Keldwick"));
    const QVariant stored = settings.value(QString::fromStdString(key));
    if (!stored.isValid()) return std::nullopt;
    return stored.toString().toStdString();
}

void StoredPreferences::setValue(const std::string& key, const std::optional<std::string>& value) {
    QSettings settings(QStringLiteral("Keldwick"), QStringLiteral("Keldwick"));
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
