#pragma once
// The windows the program can be asked to open, a request to open one, and the tabs the
// settings and files windows remember.

#include <optional>
#include <string>
#include <string_view>

namespace keldwick {

// The raw values are also the windows' ids.
enum class AppWindow { onboarding, preview, offloaded, permission, systemData };

// "onboarding", "preview", "offloaded", "permission", "systemData".
std::string_view toString(AppWindow window);
// Exactly one of those strings; nothing for any other.
std::optional<AppWindow> parseAppWindow(std::string_view text);

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
