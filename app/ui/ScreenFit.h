#pragma once
// Windows that take the height of what they show, as far as the screen goes.

class QWidget;

namespace keldwick {

// `wanted` held to the free height of the screen `window` is on, less the window's frame
// once it has one; `wanted` itself while the window is on no screen.
int heightOnScreen(const QWidget& window, int wanted);

}  // namespace keldwick
