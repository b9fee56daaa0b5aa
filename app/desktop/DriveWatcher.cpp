#include "desktop/DriveWatcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <set>

#include "foundation/Utf8.h"
#include "model/DriveLog.h"
#include "model/MainThread.h"
#include "platform/MountFacts.h"

namespace keldwick {

DriveWatcher::DriveWatcher(Options options, QObject* parent)
    : QObject(parent),
      options_(std::move(options)),
      wake_(options_.wake),
      relay_(this) {
    settle_.setSingleShot(true);
    settle_.setInterval(options_.settleMilliseconds);
    connect(&settle_, &QTimer::timeout, this, [this] { probe({}); });
    wake_.onWake = [this] {
        if (onWake) onWake();
    };
}

DriveWatcher::~DriveWatcher() { mountTableFd_.reset(); }

std::optional<DiskVolume> DriveWatcher::diskVolume(const platform::BlockDevices::Identity& identity,
                                                   const std::optional<std::string>& mountPoint) {
    DiskVolume volume;
    if (identity.uuid && !identity.uuid->empty()) volume.uuid = identity.uuid;
    // Labels are the device's raw bytes; shown and compared as text, so never ill-formed.
    if (identity.label && !identity.label->empty()) volume.name = Utf8::replacingInvalid(*identity.label);
    if (!volume.uuid && !volume.name) return std::nullopt;
    volume.mountPath = mountPoint;
    return volume;
}

void DriveWatcher::start() {
    assertMainThread();
    if (started_) return;
    started_ = true;

    std::string whyNot;
    uevents_ = options_.openUevents ? options_.openUevents(options_.roots, whyNot) : nullptr;
    if (uevents_) {
        ueventNotifier_ = new QSocketNotifier(uevents_->descriptor(), QSocketNotifier::Read, this);
        connect(ueventNotifier_, &QSocketNotifier::activated, this, [this] { readUevents(); });
    } else {
        qCWarning(keldwickDriveLog).noquote() << "Disks coming and going are not noticed:"
                                              << QString::fromStdString(whyNot);
    }

    mountTableFd_ = platform::openRead(options_.roots.mountinfo);
    if (mountTableFd_) {
        mountTableNotifier_ = new QSocketNotifier(mountTableFd_.get(), QSocketNotifier::Exception, this);
        connect(mountTableNotifier_, &QSocketNotifier::activated, this, [this] { mountTableChanged(); });
    } else {
        qCWarning(keldwickDriveLog).noquote() << "Mounts and unmounts are not noticed:"
                                              << QString::fromStdString(options_.roots.mountinfo)
                                              << std::strerror(errno);
    }

    wake_.start();
    // Without device events a list of disks could never be corrected: report none, as when
    // the disks can't be watched at all. The first read of the mount table is the baseline.
    probe({.everyDisk = uevents_ != nullptr, .removed = {}});
}

void DriveWatcher::mountTableChanged() {
    assertMainThread();
    // Each change restarts the wait, but a table that never settles is still read.
    if (!settle_.isActive()) pendingSince_.start();
    else if (pendingSince_.elapsed() >= 4 * options_.settleMilliseconds) return;
    settle_.start();
}

void DriveWatcher::readUevents() {
    assertMainThread();
    bool lost = false;
    Request request;
    for (const auto& event : uevents_->receive(lost)) {
        if (event.subsystem != "block" || !platform::BlockDevices::isValidName(event.devName)) continue;
        if (event.action == "add" || event.action == "change" || event.action == "online") {
            request.removed[event.devName] = false;
        } else if (event.action == "remove") {
            request.removed[event.devName] = true;
        } else if (event.action == "move") {
            // A renamed device: its old name is unknown here.
            lost = true;
        }
    }
    if (lost) {
        request.everyDisk = true;
        request.removed.clear();
    } else if (request.removed.empty()) {
        return;
    }
    probe(std::move(request));
}

void DriveWatcher::probe(Request request) {
    probes_.run([this, relay = relay_.shared(), roots = options_.roots, request = std::move(request)] {
        Snapshot snapshot = take(roots, request);
        relay->post([this, snapshot = std::move(snapshot)] { apply(snapshot); });
    });
}

DriveWatcher::Snapshot DriveWatcher::take(const platform::SystemRoots& roots, const Request& request) {
    Snapshot snapshot;
    snapshot.everyDisk = request.everyDisk;
    auto table = platform::MountTable::read(roots.mountinfo);
    snapshot.visibleMounts = platform::MountFacts::visibleEntries(table);
    for (const auto& entry : snapshot.visibleMounts) {
        if (entry.root != "/") continue;  // a folder of a volume, not the volume
        if (auto name = platform::BlockDevices::nameForMount(entry, roots)) snapshot.mountPoints.emplace(*name, entry.mountPoint);
    }
    auto identify = [&](const std::string& name) {
        snapshot.disks[name] = platform::BlockDevices::identify(name, roots);
    };
    if (request.everyDisk) {
        const std::string folder = roots.sys + "/class/block";
        std::vector<std::string> names;
        try {
            names = platform::readNames(platform::openDirectory(AT_FDCWD, folder), folder);
        } catch (const std::exception&) {
            // No block devices to be seen: none are identified.
        }
        for (const std::string& name : names) {
            if (platform::BlockDevices::isValidName(name)) identify(name);
        }
        return snapshot;
    }
    for (const auto& [name, removed] : request.removed) {
        // The kernel announces a removal before the device leaves sysfs: the event decides.
        if (removed || !platform::BlockDevices::deviceFolder(name, roots)) snapshot.disks[name] = std::nullopt;
        else identify(name);
    }
    return snapshot;
}

void DriveWatcher::apply(const Snapshot& snapshot) {
    assertMainThread();
    bool first = std::exchange(firstSnapshot_, false);
    bool mountsChanged = snapshot.visibleMounts != visibleMounts_;
    visibleMounts_ = snapshot.visibleMounts;

    std::set<std::string> names;
    for (const auto& [name, identity] : snapshot.disks) {
        names.insert(name);
        if (identity) identities_[name] = *identity;
        else identities_.erase(name);
    }
    if (snapshot.everyDisk) {
        std::erase_if(identities_, [&](const auto& known) { return !snapshot.disks.contains(known.first); });
        for (const auto& [name, volume] : reported_) names.insert(name);
        for (const auto& [name, identity] : identities_) names.insert(name);
    }
    // Disks whose mount point came, went or moved.
    for (const auto& [name, point] : mountPoints_) {
        auto now = snapshot.mountPoints.find(name);
        if (now == snapshot.mountPoints.end() || now->second != point) names.insert(name);
    }
    for (const auto& [name, point] : snapshot.mountPoints) {
        if (!mountPoints_.contains(name)) names.insert(name);
    }
    mountPoints_ = snapshot.mountPoints;

    bool renamed = false;
    for (const auto& name : names) {
        auto identity = identities_.find(name);
        auto previous = reported_.find(name);
        if (identity == identities_.end()) {
            if (previous == reported_.end()) continue;
            reported_.erase(previous);
            if (onDiskChanged) onDiskChanged(name, std::nullopt);
            continue;
        }
        auto point = mountPoints_.find(name);
        auto volume = diskVolume(identity->second, point == mountPoints_.end() ? std::nullopt
                                                                              : std::optional(point->second));
        if (previous != reported_.end()) {
            if (previous->second == volume) continue;
            // A mounted volume given a new name counts as a volume change, like a mount.
            renamed |= previous->second && volume && volume->mountPath && previous->second->name != volume->name;
        }
        reported_[name] = volume;
        if (onDiskChanged) onDiskChanged(name, volume);
    }
    if (!first && (mountsChanged || renamed) && onVolumesChanged) onVolumesChanged();
}

}  // namespace keldwick
