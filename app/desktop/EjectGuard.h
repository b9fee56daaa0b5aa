#pragma once
// Keeps the drive mounted while the program copies to or from it. Linux asks no one before
// an unmount, so the guard holds a descriptor on the drive's root while the model says so:
// the kernel then refuses the unmount as busy, and file managers say the volume is busy.
// Where udisks2 runs on the system bus, its unmount and eject jobs are noticed: the guard
// asks the model whether the volume must stay (the model stops its operation as it says
// yes, so the next attempt succeeds) and posts the busy notice.
//
// A forced or lazy unmount and a pulled cable can't be refused; the engine treats them as
// a drive that went away.

#include <QDBusConnection>
#include <QObject>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/ModelPorts.h"
#include "platform/FileIO.h"

class QDBusMessage;

namespace keldwick {

class EjectGuard : public QObject, public EjectGuarding {
    Q_OBJECT

public:
    static constexpr const char* kBusyText =
        "Keldwick is copying a file on this drive. Try ejecting again in a few seconds.";

    struct Options {
        bool useSystemBus = true;
        // The bus udisks2 is on; the system bus when not given.
        std::optional<QDBusConnection> bus;
    };

    explicit EjectGuard(Options options, QObject* parent = nullptr);
    ~EjectGuard() override;

    // shouldRefuse and postNotice are set by the model before start; unset callbacks are
    // skipped (nothing is refused).

    // Starts noticing udisks2's unmount jobs. Later calls do nothing.
    void start() override;

    // Holds the volume mounted at `path` until released (another volume held before is let
    // go). False, with nothing held, when the path can't be opened.
    bool holdVolume(const std::string& path) override;
    void releaseVolume() override;
    const std::optional<std::string>& heldVolume() const { return held_; }

    // An unmount of these volumes is under way: asks shouldRefuse for each, and posts the
    // busy notice once when any must stay. True when one must.
    bool unmountRequested(const std::vector<std::string>& volumePaths);

private slots:
    void interfacesAdded(const QDBusMessage& message);

private:
    void jobStarted(const std::vector<std::string>& objects);

    Options options_;
    std::optional<QDBusConnection> bus_;
    std::optional<std::string> held_;
    platform::Fd heldFd_;
    bool started_ = false;
};

}  // namespace keldwick
