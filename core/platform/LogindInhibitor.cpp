#include "platform/LogindInhibitor.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstring>

namespace keldwick::platform {

namespace {

constexpr uint64_t kTimeoutMicroseconds = 5'000'000;

std::string describe(const sd_bus_error& error, int code) {
    if (error.message) return error.message;
    if (error.name) return error.name;
    return std::strerror(code < 0 ? -code : code);
}

}  // namespace

std::variant<int, InhibitorRefused> inhibitIdle(const std::string& who, const std::string& why) {
    sd_bus* bus = nullptr;
    int r = sd_bus_open_system(&bus);
    if (r < 0) return InhibitorRefused{std::string("no system bus: ") + std::strerror(-r)};

    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    std::variant<int, InhibitorRefused> result = InhibitorRefused{};
    r = sd_bus_message_new_method_call(bus, &call, "org.freedesktop.login1", "/org/freedesktop/login1",
                                       "org.freedesktop.login1.Manager", "Inhibit");
    if (r >= 0) r = sd_bus_message_append(call, "ssss", "idle", who.c_str(), why.c_str(), "block");
    if (r >= 0) r = sd_bus_call(bus, call, kTimeoutMicroseconds, &error, &reply);
    if (r < 0) {
        result = InhibitorRefused{"logind refused: " + describe(error, r)};
    } else {
        int fd = -1;
        r = sd_bus_message_read(reply, "h", &fd);
        // The descriptor belongs to the reply; keep a copy of our own.
        int held = r >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 3) : -1;
        if (held >= 0)
            result = held;
        else
            result = InhibitorRefused{"logind's answer held no descriptor"};
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    sd_bus_flush_close_unref(bus);
    return result;
}

}  // namespace keldwick::platform
