#include "model/AppWindow.h"

#include <array>

#include "foundation/UUID.h"

namespace keldwick {

namespace {

constexpr std::array<AppWindow, 5> kWindows = {AppWindow::onboarding, AppWindow::preview, AppWindow::offloaded,
                                               AppWindow::permission, AppWindow::systemData};

}  // namespace

std::string_view toString(AppWindow window) {
    switch (window) {
        case AppWindow::onboarding: return "onboarding";
        case AppWindow::preview: return "preview";
        case AppWindow::offloaded: return "offloaded";
        case AppWindow::permission: return "permission";
        case AppWindow::systemData: return "systemData";
    }
    return "";
}

std::optional<AppWindow> parseAppWindow(std::string_view text) {
    for (AppWindow window : kWindows) {
        if (toString(window) == text) return window;
    }
    return std::nullopt;
}

WindowRequest WindowRequest::make(std::optional<AppWindow> window) {
    return WindowRequest{window, UUID::random()};
}

}  // namespace keldwick
