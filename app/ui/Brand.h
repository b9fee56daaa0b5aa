#pragma once
// The program's warning colour: over the keep-free line, items needing attention, a
// status that needs the user.

#include <QColor>

namespace keldwick {

inline QColor brandOrange() { return QColor(0xff, 0x95, 0x00); }

}  // namespace keldwick
