#pragma once
// The windows the program can be asked to open, a request to open one, and the tabs the
// settings and files windows remember.

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace keldwick {

// The windows a request names (model/Windows.def). The raw values are also the windows' ids.
enum class AppWindow {
#define KELDWICK_WINDOW(id, folder, title) id,
#define KELDWICK_SETTINGS(id, folder, title)
#define KELDWICK_PANEL(id, folder, title)
#include "model/Windows.def"
#undef KELDWICK_WINDOW
#undef KELDWICK_SETTINGS
#undef KELDWICK_PANEL
};

// "onboarding", "preview", "offloaded", "permission", "systemData".
std::string_view toString(AppWindow window);
// Exactly one of those strings; nothing for any other.
std::optional<AppWindow> parseAppWindow(std::string_view text);

// One row of model/Windows.def.
struct WindowFacts {
    enum class Opened { byRequest, asSettings, fromTray };
    std::string_view id;
    std::string_view folder;  // under app/
    std::string_view title;
    Opened opened = Opened::byRequest;
};

// Every window, in the file's order.
std::span<const WindowFacts> windowTable();
// The title of the window a request names (none: the settings window).
std::string_view windowTitle(std::optional<AppWindow> window);
// The title of the tray's panel.
std::string_view trayPanelTitle();

struct WindowRequest {
    std::optional<AppWindow> window;  // none: the settings window
    std::string token;                // fresh for each request, so no two requests are equal

    // A request with a fresh random token.
    static WindowRequest make(std::optional<AppWindow> window);

    bool operator==(const WindowRequest&) const = default;
};

enum class SettingsTab { general, folders, drive, advanced };

// The files window's two tabs: what was moved, and everything on the drive.
enum class FilesTab { moved, everything };

}  // namespace keldwick
