#pragma once
// udisks2 as the tests need it, on a system bus of the test's own: a dbus-daemon on a socket
// in a temporary folder, pointed to by DBUS_SYSTEM_BUS_ADDRESS while the fake lives, and a
// thread that owns org.freedesktop.UDisks2 and answers Block.Drive and Drive.Ata.PmGetState
// as each disk is set up.

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/TempDir.h"

struct sd_bus_message;

namespace keldwick::test {

class FakeUDisks {
public:
    struct Disk {
        std::string drive = "/";               // Block.Drive; "/" when udisks2 knows no drive
        std::optional<uint8_t> state = std::nullopt;  // PmGetState's answer
        std::optional<std::string> errorName = std::nullopt;  // else this error ("…Error.NotAuthorized")
        int delayMilliseconds = 0;              // before answering
    };
    struct Call {
        std::string path;
        std::string member;
        bool noUserInteraction = false;  // PmGetState's "auth.no_user_interaction"
    };

    // With `ownName` false the bus runs but nobody owns udisks2's name.
    explicit FakeUDisks(bool ownName = true);
    ~FakeUDisks();
    FakeUDisks(const FakeUDisks&) = delete;
    FakeUDisks& operator=(const FakeUDisks&) = delete;

    const std::optional<std::string>& skipReason() const { return skipReason_; }
    void set(const std::string& kernelName, Disk disk);
    std::vector<Call> calls() const;

    // The server thread's reply to one message; 0 when it isn't udisks2's to answer.
    int answer(struct sd_bus_message* message);

private:
    void serve();

    TempDir folder_;
    pid_t daemon_ = -1;
    std::string address_;
    std::optional<std::string> previousAddress_;
    std::optional<std::string> skipReason_;
    std::thread server_;
    std::atomic<bool> stop_{false};
    std::atomic<int> ready_{0};  // 1 serving, -1 failed
    mutable std::mutex lock_;
    std::map<std::string, Disk> disks_;  // by block object path
    std::vector<Call> calls_;
    bool ownName_;
};

}  // namespace keldwick::test
