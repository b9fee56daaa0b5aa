#include "platform/FakeUDisks.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/UDisksPower.h"

namespace keldwick::test {

namespace {

int onMessage(sd_bus_message* message, void* self, sd_bus_error*) {
    return static_cast<FakeUDisks*>(self)->answer(message);
}

// The "auth.no_user_interaction" entry of an a{sv} of options.
bool readNoUserInteraction(sd_bus_message* message) {
    bool value = false;
    if (sd_bus_message_enter_container(message, 'a', "{sv}") <= 0) return false;
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
        const char* key = nullptr;
        sd_bus_message_read(message, "s", &key);
        if (key && std::strcmp(key, "auth.no_user_interaction") == 0) {
            int flag = 0;
            if (sd_bus_message_read(message, "v", "b", &flag) >= 0) value = flag != 0;
        } else {
            sd_bus_message_skip(message, "v");
        }
        sd_bus_message_exit_container(message);
    }
    sd_bus_message_exit_container(message);
    return value;
}

}  // namespace

FakeUDisks::FakeUDisks(bool ownName) : ownName_(ownName) {
    if (std::system("command -v dbus-daemon >/dev/null 2>&1") != 0) {
        skipReason_ = "dbus-daemon is not installed";
        return;
    }
    // Anyone may own any name and call anything: the test plays udisks2.
    const std::string config = writeFile(
        folder_ / "bus.conf",
        "<busconfig><type>system</type><listen>unix:dir=" + folder_.path() +
            "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
            "<allow own=\"*\"/><allow receive_sender=\"*\"/></policy></busconfig>");
    int out[2];
    if (::pipe(out) != 0) {
        skipReason_ = "no pipe for dbus-daemon";
        return;
    }
    // Made before the fork: the child of a threaded process only calls exec.
    const std::string configArgument = "--config-file=" + config;
    daemon_ = ::fork();
    if (daemon_ == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        ::execlp("dbus-daemon", "dbus-daemon", "--nofork", "--print-address=1", configArgument.c_str(),
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    pollfd wait{out[0], POLLIN, 0};
    char buffer[512];
    ssize_t got = 0;
    while (::poll(&wait, 1, 5000) > 0) {
        ssize_t n = ::read(out[0], buffer + got, sizeof(buffer) - 1 - got);
        if (n <= 0) break;
        got += n;
        if (std::memchr(buffer, '\n', got)) break;
    }
    ::close(out[0]);
    buffer[got] = '\0';
    address_ = buffer;
    address_.erase(address_.find_last_not_of("\n") + 1);
    if (address_.empty()) {
        skipReason_ = "dbus-daemon did not start";
        return;
    }
    if (const char* previous = std::getenv("DBUS_SYSTEM_BUS_ADDRESS")) previousAddress_ = previous;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
    if (!ownName_) return;
    server_ = std::thread([this] { serve(); });
    for (int i = 0; i < 500 && ready_ == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (ready_ != 1) skipReason_ = "the fake udisks2 could not take its name";
}

FakeUDisks::~FakeUDisks() {
    stop_ = true;
    if (server_.joinable()) server_.join();
    if (previousAddress_) {
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", previousAddress_->c_str(), 1);
    } else {
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
    if (daemon_ > 0) {
        ::kill(daemon_, SIGTERM);
        int status = 0;
        ::waitpid(daemon_, &status, 0);
    }
}

void FakeUDisks::set(const std::string& kernelName, Disk disk) {
    std::lock_guard<std::mutex> guard(lock_);
    disks_[platform::UDisksPower::blockObjectPath(kernelName)] = std::move(disk);
}

std::vector<FakeUDisks::Call> FakeUDisks::calls() const {
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
}

void FakeUDisks::serve() {
    sd_bus* bus = nullptr;
    bool ok = sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, address_.c_str()) >= 0 &&
              sd_bus_set_bus_client(bus, 1) >= 0 && sd_bus_start(bus) >= 0 &&
              sd_bus_add_fallback(bus, nullptr, "/org/freedesktop/UDisks2", onMessage, this) >= 0 &&
              sd_bus_request_name(bus, "org.freedesktop.UDisks2", 0) >= 0;
    ready_ = ok ? 1 : -1;
    while (ok && !stop_) {
        int r = sd_bus_process(bus, nullptr);
        if (r < 0) break;
        if (r > 0) continue;
        sd_bus_wait(bus, 50'000);
    }
    sd_bus_flush_close_unref(bus);
}

int FakeUDisks::answer(sd_bus_message* message) {
    const std::string path = sd_bus_message_get_path(message) ? sd_bus_message_get_path(message) : "";
    const char* member = sd_bus_message_get_member(message);
    if (!member) return 0;

    if (sd_bus_message_is_method_call(message, "org.freedesktop.DBus.Properties", "Get")) {
        const char* interface = nullptr;
        const char* property = nullptr;
        if (sd_bus_message_read(message, "ss", &interface, &property) < 0) return 0;
        std::unique_lock<std::mutex> guard(lock_);
        calls_.push_back({path, member, false});
        auto found = disks_.find(path);
        if (found == disks_.end())
            return sd_bus_reply_method_errorf(message, "org.freedesktop.DBus.Error.UnknownObject", "No such object %s",
                                              path.c_str());
        if (std::strcmp(interface, "org.freedesktop.UDisks2.Block") != 0 || std::strcmp(property, "Drive") != 0)
            return sd_bus_reply_method_errorf(message, "org.freedesktop.DBus.Error.UnknownProperty", "No such property");
        const std::string drive = found->second.drive;
        guard.unlock();
        return sd_bus_reply_method_return(message, "v", "o", drive.c_str());
    }

    if (sd_bus_message_is_method_call(message, "org.freedesktop.UDisks2.Drive.Ata", "PmGetState")) {
        const bool noInteraction = readNoUserInteraction(message);
        std::unique_lock<std::mutex> guard(lock_);
        calls_.push_back({path, member, noInteraction});
        std::optional<Disk> disk;
        for (const auto& [block, entry] : disks_) {
            if (entry.drive == path) disk = entry;
        }
        guard.unlock();
        if (!disk)
            return sd_bus_reply_method_errorf(message, "org.freedesktop.DBus.Error.UnknownObject", "No such object %s",
                                              path.c_str());
        if (disk->delayMilliseconds) std::this_thread::sleep_for(std::chrono::milliseconds(disk->delayMilliseconds));
        if (disk->errorName)
            return sd_bus_reply_method_errorf(message, disk->errorName->c_str(), "Not authorized to perform operation");
        if (!disk->state)
            return sd_bus_reply_method_errorf(message, "org.freedesktop.UDisks2.Error.Failed",
                                              "Error sending ATA command CHECK POWER MODE");
        return sd_bus_reply_method_return(message, "y", *disk->state);
    }
    return 0;
}

}  // namespace keldwick::test
