#pragma once
// The Drive tab's measuring: choosing another drive (marked, then speed-tested) or testing
// the chosen drive's speed again. One runs at a time, and only while the model is idle: a
// test file written to the drive while files move would compete with them for room and
// skew the result. The check belongs to the program, not to a window, so a window closed
// and opened again shows it still running. A speed result is applied only while the
// drive it measured is still the chosen one.

#include <QObject>
#include <functional>
#include <string>

#include "model/DriveOption.h"
#include "model/ModelState.h"
#include "model/SettingsWrite.h"
#include "settings/SettingsScreens.h"

namespace keldwick {

class DriveCheck final : public QObject {
    Q_OBJECT

public:
    // Runs `work` off the main thread, then `then` on it (never once the check is gone).
    using Offload = std::function<void(std::function<void()> work, std::function<void()> then)>;

    struct Ports {
        std::function<const ModelState&()> state;
        std::function<void(const SettingsChange&)> updateSettings;
        Offload offload;
        DriveOption::System system;
    };

    explicit DriveCheck(Ports ports, QObject* parent = nullptr);

    const DriveWork& work() const { return work_; }

    // Marks and measures `option`, then makes it the chosen drive; a failure keeps the
    // old drive and says why. False, with nothing started, unless canChangeDrive.
    bool useDrive(const DriveOption& option);
    // Tests the mounted drive's speed again and stores the new profile, keeping the
    // hardware facts known. False, with nothing started, unless canCheckSpeed.
    bool checkSpeed();

signals:
    void changed();

private:
    void setWork(DriveWork work);

    Ports ports_;
    DriveWork work_;
};

}  // namespace keldwick
