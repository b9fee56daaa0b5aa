#pragma once
// Escape and Ctrl+W close a window, whichever control inside it has the focus.

class QWidget;

namespace keldwick {

// Adds both keys to `window` (a top-level widget), closing it as its own close button
// would: a dialog rejects, every other window gets its close event.
void closeOnEscapeOrCtrlW(QWidget* window);

}  // namespace keldwick
