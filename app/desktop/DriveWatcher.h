#pragma once
// Tells the model about drives: every disk that appears, changes or goes away (with the
// volume on it, if any), volumes mounted, unmounted or given a new name, and the computer
// waking from sleep. It only reports; the model decides what follows.
//
// Disks come from the kernel's uevents (subsystem "block") after one pass over the disks
// already present; mounts from /proc/self/mountinfo, which polls "exceptional" on every
// change of the mount table. What a disk holds (file-system UUID and label) is read on a
// worker thread, because probing a device can wait for it to spin up; every callback is
// made on the main thread, in the order the events came.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "desktop/UeventSource.h"
#include "desktop/WakeWatch.h"
#include "drives/DiskList.h"
#include "model/BackgroundExecutor.h"
#include "model/MainThreadRelay.h"
#include "model/ModelPorts.h"
#include "platform/BlockDevices.h"
#include "platform/FileIO.h"
#include "platform/MountTable.h"
#include "platform/SystemRoots.h"

class QSocketNotifier;

namespace keldwick {

class DriveWatcher : public QObject, public DriveEvents {
    Q_OBJECT

public:
    struct Options {
        platform::SystemRoots roots = platform::SystemRoots::system();
        // Opens the source of device events; by default the netlink socket. Nothing, with a
        // reason, when there is none.
        std::function<std::unique_ptr<UeventSource>(const platform::SystemRoots&, std::string& whyNot)> openUevents = openNetlinkUevents;
        WakeWatch::Options wake;
        // Mount-table changes come in bursts (a desktop mounting a drive, containers starting):
        // they are read once the table has been quiet this long, or at the latest after four
        // times as long.
        int settleMilliseconds = 250;
    };

    explicit DriveWatcher(Options options, QObject* parent = nullptr);
    ~DriveWatcher() override;

    // The callbacks (onVolumesChanged, onWake, onDiskChanged) are set by the model before
    // start; one that is not set is skipped. A disk that went away is reported without a
    // volume, keyed by the kernel's name for the disk ("sdb1").

    // Opens the sources and reports every disk already present (none when device events
    // can't be had). Later calls do nothing.
    void start() override;

    // The volume of a disk from what its file system says and where it is mounted: nothing
    // when it has neither UUID nor label (a whole disk holding a partition table). Any
    // non-empty UUID counts (FAT's "ABCD-1234" as much as ext4's), the same text that
    // VolumeInfo gives the volume.
    static std::optional<DiskVolume> diskVolume(const platform::BlockDevices::Identity& identity,
                                                const std::optional<std::string>& mountPoint);

public slots:
    // The mount table changed: it is read again once it settles. Called by the notifier on
    // the mount table; tests call it after rewriting a recorded table.
    void mountTableChanged();

private:
    struct Request {
        bool everyDisk = false;
        std::map<std::string, bool> removed;  // kernel name -> its last event was "remove"
    };
    struct Snapshot {
        bool everyDisk = false;
        std::map<std::string, std::optional<platform::BlockDevices::Identity>> disks;  // none: gone
        std::vector<platform::MountEntry> visibleMounts;
        std::map<std::string, std::string> mountPoints;  // kernel name -> first mount point
    };

    void readUevents();
    void probe(Request request);
    static Snapshot take(const platform::SystemRoots& roots, const Request& request);
    void apply(const Snapshot& snapshot);

    Options options_;
    std::unique_ptr<UeventSource> uevents_;
    QSocketNotifier* ueventNotifier_ = nullptr;
    platform::Fd mountTableFd_;
    QSocketNotifier* mountTableNotifier_ = nullptr;
    QTimer settle_;
    QElapsedTimer pendingSince_;
    WakeWatch wake_;
    bool started_ = false;
    bool firstSnapshot_ = true;

    std::map<std::string, platform::BlockDevices::Identity> identities_;
    std::map<std::string, std::optional<DiskVolume>> reported_;
    std::vector<platform::MountEntry> visibleMounts_;
    std::map<std::string, std::string> mountPoints_;

    // Hands each probe's snapshot back, in the order the probes end.
    OwnedRelay relay_;
    // One at a time, so probes finish in the order they were asked for; a probe still
    // running when the watcher goes ends on its own, and what it reports is dropped.
    SerialWork probes_{ThreadPoolExecutor::shared(), WorkPriority::waiting};
};

}  // namespace keldwick
