#pragma once
// The program's signal colours: orange for warnings (over the keep-free line, items
// needing attention, a status that needs the user), green for a thing done or chosen.

#include <QColor>

namespace keldwick {

inline QColor brandOrange() { return QColor(0xff, 0x95, 0x00); }
inline QColor successGreen() { return QColor(0x28, 0xa7, 0x45); }

}  // namespace keldwick
