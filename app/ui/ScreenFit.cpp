#include "ui/ScreenFit.h"

#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace keldwick {

int heightOnScreen(const QWidget& window, int wanted) {
    const QScreen* shown = window.screen();
    if (!shown) return wanted;
    const int frame = window.isVisible() ? window.frameGeometry().height() - window.geometry().height() : 0;
    return std::min(wanted, shown->availableGeometry().height() - frame);
}

}  // namespace keldwick
