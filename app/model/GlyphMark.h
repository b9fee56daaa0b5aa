#pragma once
// The mark beside the tray glyph: nothing, spilled drops (this computer is fuller than its
// keep-free level), drops pouring (files are moving; the tray animates the frame), a
// dot (the user should look) or a ring (the drive with moved files is away).

#include <cstdint>

namespace keldwick::TrayGlyph {

struct Mark {
    enum class Kind { none, overflow, pouring, attention, driveAway };
    Kind kind = Kind::none;
    int64_t frame = 0;  // the animation frame; only for pouring

    static Mark none() { return {}; }
    static Mark overflow() { return {Kind::overflow, 0}; }
    static Mark pouring(int64_t frame) { return {Kind::pouring, frame}; }
    static Mark attention() { return {Kind::attention, 0}; }
    static Mark driveAway() { return {Kind::driveAway, 0}; }

    bool operator==(const Mark&) const = default;
};

}  // namespace keldwick::TrayGlyph
