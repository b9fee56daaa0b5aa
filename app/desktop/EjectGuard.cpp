#include "desktop/EjectGuard.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <cerrno>
#include <cstring>

#include "desktop/UdisksJob.h"
#include "model/DriveLog.h"
#include "model/MainThread.h"

namespace {

using Interfaces = QMap<QString, QVariantMap>;
using ManagedObjects = QMap<QDBusObjectPath, Interfaces>;

}  // namespace

Q_DECLARE_METATYPE(Interfaces)
Q_DECLARE_METATYPE(ManagedObjects)

namespace keldwick {

namespace {

const QString kUdisks = QStringLiteral("org.freedesktop.UDisks2");
const QString kUdisksPath = QStringLiteral("/org/freedesktop/UDisks2");
const QString kObjectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");

// Values inside a{sv} arrive demarshalled for simple types and as a QDBusArgument for arrays.
template <typename T>
T extract(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QDBusArgument>()) {
        T result;
        value.value<QDBusArgument>() >> result;
        return result;
    }
    return value.value<T>();
}

std::vector<std::string> objectPaths(const QVariant& value) {
    std::vector<std::string> paths;
    for (const auto& path : extract<QList<QDBusObjectPath>>(value)) paths.push_back(path.path().toStdString());
    return paths;
}

std::vector<UdisksBlock> blocksOf(const ManagedObjects& objects) {
    std::vector<UdisksBlock> blocks;
    for (auto object = objects.begin(); object != objects.end(); ++object) {
        auto block = object->find(QStringLiteral("org.freedesktop.UDisks2.Block"));
        if (block == object->end()) continue;
        UdisksBlock facts;
        facts.objectPath = object.key().path().toStdString();
        facts.drive = extract<QDBusObjectPath>(block->value(QStringLiteral("Drive"))).path().toStdString();
        auto filesystem = object->find(QStringLiteral("org.freedesktop.UDisks2.Filesystem"));
        if (filesystem != object->end()) {
            for (QByteArray point : extract<QByteArrayList>(filesystem->value(QStringLiteral("MountPoints")))) {
                // udisks sends each path with its terminating zero byte.
                while (point.endsWith('\0')) point.chop(1);
                if (!point.isEmpty()) facts.mountPoints.push_back(point.toStdString());
            }
        }
        blocks.push_back(std::move(facts));
    }
    return blocks;
}

}  // namespace

EjectGuard::EjectGuard(Options options, QObject* parent) : QObject(parent), options_(std::move(options)) {
    qDBusRegisterMetaType<Interfaces>();
    qDBusRegisterMetaType<ManagedObjects>();
}

EjectGuard::~EjectGuard() = default;

void EjectGuard::start() {
    assertMainThread();
    if (started_) return;
    started_ = true;
    if (!options_.useSystemBus) return;
    bus_ = options_.bus ? *options_.bus : QDBusConnection::systemBus();
    if (!bus_->isConnected()) {
        qCInfo(keldwickDriveLog) << "Unmount attempts are not noticed without a system bus;"
                                 << "a held drive is still refused as busy";
        bus_.reset();
        return;
    }
    bus_->connect(kUdisks, kUdisksPath, kObjectManager, QStringLiteral("InterfacesAdded"), this,
                  SLOT(interfacesAdded(QDBusMessage)));
}

bool EjectGuard::holdVolume(const std::string& path) {
    assertMainThread();
    if (held_ == path) return true;
    releaseVolume();
    // O_PATH pins the mount without asking the file system anything, so a slow or stuck
    // (FUSE) drive can't stall the caller.
    platform::Fd fd = platform::openDirectory(AT_FDCWD, path, O_PATH);
    if (!fd) {
        qCWarning(keldwickDriveLog).noquote()
            << QStringLiteral("Can't hold the drive at %1: %2").arg(QString::fromStdString(path), std::strerror(errno));
        return false;
    }
    heldFd_ = std::move(fd);
    held_ = path;
    return true;
}

void EjectGuard::releaseVolume() {
    assertMainThread();
    heldFd_.reset();
    held_.reset();
}

bool EjectGuard::unmountRequested(const std::vector<std::string>& volumePaths) {
    assertMainThread();
    bool refused = false;
    for (const auto& path : volumePaths) {
        if (shouldRefuse && shouldRefuse(path)) refused = true;
    }
    if (refused && postNotice) postNotice(kBusyText);
    return refused;
}

void EjectGuard::interfacesAdded(const QDBusMessage& message) {
    assertMainThread();
    const auto arguments = message.arguments();
    if (arguments.size() < 2) return;
    auto interfaces = extract<Interfaces>(arguments.at(1));
    auto job = interfaces.find(QStringLiteral("org.freedesktop.UDisks2.Job"));
    if (job == interfaces.end()) return;
    if (!UdisksJob::takesVolumesAway(job->value(QStringLiteral("Operation")).toString().toStdString())) return;
    jobStarted(objectPaths(job->value(QStringLiteral("Objects"))));
}

void EjectGuard::jobStarted(const std::vector<std::string>& objects) {
    if (objects.empty() || !bus_) return;
    // Which volumes the job concerns is asked without waiting: the refusal itself is the
    // kernel's, and the answer only decides whether the model is told.
    auto call = QDBusMessage::createMethodCall(kUdisks, kUdisksPath, kObjectManager, QStringLiteral("GetManagedObjects"));
    auto* pending = new QDBusPendingCallWatcher(bus_->asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, objects](QDBusPendingCallWatcher* watcher) {
        QDBusPendingReply<ManagedObjects> reply = *watcher;
        watcher->deleteLater();
        if (reply.isError()) return;
        auto points = UdisksJob::mountPoints(objects, blocksOf(reply.value()));
        if (!points.empty()) unmountRequested(points);
    });
}

}  // namespace keldwick
