#pragma once
// The model's services as the running program provides them: notices over the session
// bus, the drive watcher and eject guard, the windows' kit's dialogs, the autostart entry
// and desktop icon places through gio.

#include "model/AppServices.h"

namespace keldwick {

// Every service of the program. Main thread, with a QApplication.
AppServices desktopServices();

}  // namespace keldwick
