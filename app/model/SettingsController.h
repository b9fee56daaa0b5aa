#pragma once
// The settings: loaded once into the store's state, then changed only through update(),
// which applies, normalises, saves, publishes and announces what else the change calls
// for (followUps). Beside the settings file: the user's decline of the first automatic
// run, the login item and the notification permission. Main thread only.

#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Date.h"
#include "model/ModelPorts.h"
#include "model/ModelStore.h"
#include "model/SettingsWrite.h"
#include "scanning/SettingsStore.h"

namespace keldwick {

class SettingsController final : public QObject {
    Q_OBJECT

public:
    // `file` is settings.json. Nothing is read until load().
    SettingsController(ModelStore& store, std::string file, std::shared_ptr<NoticePosting> notifier,
                       std::shared_ptr<Preferences> preferences, std::shared_ptr<LoginItem> loginItem,
                       QObject* parent = nullptr);

    // Reads the settings file into the state; a damaged one is set aside (settingsSetAside).
    void load();

    // The one write path: apply, normalise, save (a failure is kept in settingsProblem),
    // publish, then followUps with what the change calls for.
    void update(const SettingsChange& change);
    void approveAutomaticRuns();
    void togglePaused(bool moveAutomatically);
    void setDriveVolumeUUID(const std::optional<std::string>& uuid);

    // The user's decline of the first automatic run ("firstRunDeclinedAt"); none when the
    // preference is missing or holds no date.
    std::optional<Date> firstRunDeclinedAt() const;
    void setFirstRunDeclinedAt(std::optional<Date> date);

    // Starts the program at login, or stops doing so. Throws the system's error.
    void setOpenAtLogin(bool on);
    // The desktop's notification server needs no permission: nothing to ask.
    void requestNotificationPermission(std::function<void()> done = {});

signals:
    // After a write was saved and published, synchronously, before update() returns.
    void followUps(const keldwick::SettingsFollowUps& followUps);

private:
    ModelStore& store_;
    SettingsStore file_;
    std::shared_ptr<NoticePosting> notifier_;
    std::shared_ptr<Preferences> preferences_;
    std::shared_ptr<LoginItem> loginItem_;
};

}  // namespace keldwick
