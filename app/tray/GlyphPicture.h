#pragma once
// What the tray glyph shows, as plain geometry: an open container filled to the computer's
// fill level in twelfths, and at most one mark beside it. The drawing (TrayGlyph) only
// paints this, so every rule about what is shown is tested without a display.

#include <cstdint>
#include <optional>
#include <vector>

#include "model/GlyphMark.h"
#include "model/ModelState.h"

namespace keldwick::TrayGlyph {

// The glyph's box, in points: 20 wide, 18 high, y growing downward.
inline constexpr double width = 20;
inline constexpr double height = 18;

struct Rect {
    double x = 0, y = 0, w = 0, h = 0;
    bool operator==(const Rect&) const = default;
};

// A drop, dot or ring: an oval filled, or stroked with `lineWidth`.
struct Oval {
    Rect rect;
    bool filled = true;
    double lineWidth = 0;
    bool operator==(const Oval&) const = default;
};

struct Picture {
    int64_t step = 0;               // the fill in twelfths, 0...12
    std::optional<Rect> contents;   // the filling; none while too thin to see
    std::vector<Oval> marks;
    bool operator==(const Picture&) const = default;
};

// The fill clamped to 0...1 (NaN counts as 0), times 12, rounded half away from zero.
int64_t fillStep(double fill);

// The picture for a fill fraction and a mark. A pouring frame counts modulo 4.
Picture picture(double fill, Mark mark);

// What the glyph shows of the model: the computer's fill and, while files move or come
// back, drops pouring at `dripFrame` (frame 0, standing still, when the user asked for
// less motion); otherwise the model's own mark.
struct Shown {
    double fill = 0;
    Mark mark;
    bool operator==(const Shown&) const = default;
};
Shown shown(const ModelState& state, bool reduceMotion, int dripFrame);

// Whether the drops animate: files move or come back and motion is welcome.
bool isDripping(Activity activity, bool reduceMotion);

}  // namespace keldwick::TrayGlyph
