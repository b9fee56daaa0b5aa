#include "tray/GlyphPicture.h"

#include <cmath>

#include "model/StatusTexts.h"

namespace keldwick::TrayGlyph {

namespace {

// The filling's top runs from y 13.85 (empty) to 3.45 (full).
constexpr double emptyTop = 13.85;
constexpr double fullTop = 3.45;

// A drop of width w centred at (x, y): ten per cent taller than wide.
Oval drop(double x, double y, double w) { return {{x - w / 2, y - 0.55 * w, w, 1.1 * w}, true, 0}; }

constexpr double pouringPoints[4][2] = {{14.6, 3.2}, {16.4, 6.4}, {17.4, 10.2}, {17.8, 14.2}};

}  // namespace

int64_t fillStep(double fill) {
    if (std::isnan(fill) || fill <= 0) return 0;
    if (fill > 1) fill = 1;
    // lround rounds halves away from zero; qRound's d + 0.5 can misround just below a half.
    return std::lround(fill * 12);
}

Picture picture(double fill, Mark mark) {
    Picture result;
    result.step = fillStep(fill);
    const double level = static_cast<double>(result.step) / 12;
    const double top = emptyTop - level * (emptyTop - fullTop);
    const double contentsHeight = emptyTop - top;
    if (contentsHeight > 0.6) result.contents = Rect{4.65, top, 6.2, contentsHeight};

    switch (mark.kind) {
    case Mark::Kind::none:
        break;
    case Mark::Kind::pouring: {
        // Two drops half a cycle apart; frames beyond 3 (or below 0) wrap around.
        const int64_t first = ((mark.frame % 4) + 4) % 4;
        for (int64_t index : {first, (first + 2) % 4}) {
            result.marks.push_back(drop(pouringPoints[index][0], pouringPoints[index][1], 2.9));
        }
        break;
    }
    case Mark::Kind::overflow:
        result.marks.push_back(drop(15.4, 4.2, 2.7));
        result.marks.push_back(drop(16.9, 9.4, 3.2));
        break;
    case Mark::Kind::attention:
        result.marks.push_back({{14.2, 11.2, 5, 5}, true, 0});
        break;
    case Mark::Kind::driveAway:
        result.marks.push_back({{14.6, 11.6, 4.4, 4.4}, false, 1.3});
        break;
    }
    return result;
}

bool isDripping(Activity activity, bool reduceMotion) {
    return (activity == Activity::moving || activity == Activity::restoring) && !reduceMotion;
}

Shown shown(const ModelState& state, bool reduceMotion, int dripFrame) {
    Shown result{computerFillLevel(state).fill, trayMark(state)};
    if (state.activity == Activity::moving || state.activity == Activity::restoring) {
        result.mark = Mark::pouring(reduceMotion ? 0 : dripFrame);
    }
    return result;
}

}  // namespace keldwick::TrayGlyph
