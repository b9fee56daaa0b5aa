#include "model/AppWindow.h"

#include <array>
#include <utility>

#include "foundation/UUID.h"

namespace keldwick {

namespace {

using Opened = WindowFacts::Opened;

constexpr WindowFacts kTable[] = {
#define KELDWICK_WINDOW(id, folder, title) {#id, #folder, title, Opened::byRequest},
#define KELDWICK_SETTINGS(id, folder, title) {#id, #folder, title, Opened::asSettings},
#define KELDWICK_PANEL(id, folder, title) {#id, #folder, title, Opened::fromTray},
#include "model/Windows.def"
#undef KELDWICK_WINDOW
#undef KELDWICK_SETTINGS
#undef KELDWICK_PANEL
};

// The rows requests name, in the enum's order.
constexpr auto kRequested = [] {
    std::array<const WindowFacts*, std::size(kTable)> rows{};
    size_t count = 0;
    for (const WindowFacts& row : kTable) {
        if (row.opened == Opened::byRequest) rows[count++] = &row;
    }
    return std::pair{rows, count};
}();

const WindowFacts* rowOf(Opened opened) {
    for (const WindowFacts& row : kTable) {
        if (row.opened == opened) return &row;
    }
    return nullptr;
}

}  // namespace

std::span<const WindowFacts> windowTable() { return kTable; }

std::string_view toString(AppWindow window) {
    const auto index = static_cast<size_t>(window);
    return index < kRequested.second ? kRequested.first[index]->id : std::string_view();
}

std::optional<AppWindow> parseAppWindow(std::string_view text) {
    for (size_t index = 0; index < kRequested.second; ++index) {
        if (kRequested.first[index]->id == text) return static_cast<AppWindow>(index);
    }
    return std::nullopt;
}

std::string_view windowTitle(std::optional<AppWindow> window) {
    if (!window) return rowOf(Opened::asSettings)->title;
    const auto index = static_cast<size_t>(*window);
    return index < kRequested.second ? kRequested.first[index]->title : std::string_view();
}

std::string_view trayPanelTitle() { return rowOf(Opened::fromTray)->title; }

WindowRequest WindowRequest::make(std::optional<AppWindow> window) {
    return WindowRequest{window, UUID::random()};
}

}  // namespace keldwick
