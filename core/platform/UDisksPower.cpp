#include "platform/UDisksPower.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstring>

namespace keldwick::platform {

namespace {

constexpr const char* kService = "org.freedesktop.UDisks2";

std::string describe(const sd_bus_error& error, int code) {
    if (error.message && *error.message) return error.message;
    if (error.name) return error.name;
    return std::strerror(code < 0 ? -code : code);
}

// Owns what one query holds and frees it whatever way the query ends.
struct Query {
    sd_bus* bus = nullptr;
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;

    ~Query() {
        reset();
        sd_bus_flush_close_unref(bus);
    }
    void reset() {
        sd_bus_error_free(&error);
        error = SD_BUS_ERROR_NULL;
        reply = sd_bus_message_unref(reply);
        call = sd_bus_message_unref(call);
    }
};

PowerModeRefused refusal(const std::string& what, const Query& query, int code) {
    PowerModeRefused refused{what + describe(query.error, code)};
    refused.timedOut = code == -ETIMEDOUT;
    return refused;
}

}  // namespace

std::optional<DiskPowerMode> diskPowerModeOf(uint8_t state) {
    switch (state) {
        case 0x00:
        case 0x01:
        case 0x40:
            return DiskPowerMode::standby;
        case 0x41:
        case 0x80:
        case 0x81:
        case 0x82:
        case 0x83:
        case 0xFF:
            return DiskPowerMode::spinning;
        default:
            return std::nullopt;
    }
}

std::string UDisksPower::blockObjectPath(const std::string& kernelName) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string path = "/org/freedesktop/UDisks2/block_devices/";
    for (unsigned char c : kernelName) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            path += static_cast<char>(c);
        } else {
            path += '_';
            path += kHex[c >> 4];
            path += kHex[c & 0xF];
        }
    }
    return path;
}

PowerModeAnswer UDisksPower::powerMode(const std::string& diskName) const {
    if (diskName.empty()) return PowerModeRefused{"no disk name"};
    Query query;
    int r = sd_bus_open_system(&query.bus);
    if (r < 0) {
        query.bus = nullptr;
        return PowerModeRefused{std::string("no system bus: ") + std::strerror(-r)};
    }

    // The block device names its drive; a disk udisks2 doesn't know fails here.
    const std::string block = blockObjectPath(diskName);
    r = sd_bus_message_new_method_call(query.bus, &query.call, kService, block.c_str(),
                                       "org.freedesktop.DBus.Properties", "Get");
    if (r >= 0) r = sd_bus_message_append(query.call, "ss", "org.freedesktop.UDisks2.Block", "Drive");
    if (r >= 0) r = sd_bus_call(query.bus, query.call, timeout_, &query.error, &query.reply);
    if (r < 0) return refusal("udisks2: ", query, r);
    const char* drivePath = nullptr;
    r = sd_bus_message_read(query.reply, "v", "o", &drivePath);
    if (r < 0 || !drivePath) return PowerModeRefused{"udisks2 named no drive for " + diskName};
    const std::string drive = drivePath;
    if (drive == "/") return PowerModeRefused{"udisks2 knows no drive behind " + diskName};
    query.reset();

    // No interaction: a query once a second must never raise a password prompt.
    r = sd_bus_message_new_method_call(query.bus, &query.call, kService, drive.c_str(),
                                       "org.freedesktop.UDisks2.Drive.Ata", "PmGetState");
    if (r >= 0) r = sd_bus_message_append(query.call, "a{sv}", 1, "auth.no_user_interaction", "b", 1);
    if (r >= 0) r = sd_bus_call(query.bus, query.call, timeout_, &query.error, &query.reply);
    if (r < 0) return refusal("udisks2: ", query, r);
    uint8_t state = 0;
    r = sd_bus_message_read(query.reply, "y", &state);
    if (r < 0) return PowerModeRefused{"udisks2's answer held no power state"};
    auto mode = diskPowerModeOf(state);
    if (!mode) {
        static constexpr char kHex[] = "0123456789abcdef";
        return PowerModeRefused{std::string("unknown power state 0x") + kHex[state >> 4] + kHex[state & 0xF]};
    }
    return *mode;
}

}  // namespace keldwick::platform
