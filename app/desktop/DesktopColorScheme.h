#pragma once
// The desktop's colour scheme, read from its portal (org.freedesktop.appearance
// "color-scheme") and followed as it changes. Unknown until the portal answers, and for
// good on a desktop without one.

#include <QObject>
#include <QPalette>
#include <QVariant>
#include <optional>

#include "desktop/PortalSettings.h"

namespace keldwick {

inline constexpr const char* colorSchemeKey = "color-scheme";

enum class ColorScheme { noPreference, dark, light };

// The portal's number: 0 no preference, 1 prefers dark, 2 prefers light. Anything else
// (another number, another type, nothing) is unknown.
std::optional<ColorScheme> colorSchemeFrom(const std::optional<QVariant>& value);

// How the windows are drawn: the platform's own style and palette, or Fusion over a dark
// or a light palette where the platform's doesn't match the desktop's wish.
enum class WindowLook { platform, fusionDark, fusionLight };

// Prefers dark: the platform's own look when its palette is dark already, else Fusion
// dark. Prefers light: the platform's own when its palette is light, else Fusion light.
// No preference, or no answer from the portal: the platform's own.
WindowLook windowLookFor(std::optional<ColorScheme> scheme, bool platformIsDark);

// Whether a palette draws light text on a dark window.
bool isDarkPalette(const QPalette& palette);

// The dark palette the windows use where the platform gives none.
QPalette darkPalette();

class DesktopColorScheme final : public QObject {
    Q_OBJECT

public:
    // Reads the scheme from `portal` (which must outlive this) and follows its changes.
    // Main thread only.
    explicit DesktopColorScheme(PortalSettings& portal, QObject* parent = nullptr);

    std::optional<ColorScheme> scheme() const { return scheme_; }

signals:
    void schemeChanged(std::optional<keldwick::ColorScheme> scheme);

private:
    void heard(std::optional<QVariant> value, bool isChange);

    std::optional<ColorScheme> scheme_;
    bool changed_ = false;  // a change arrived: a late answer to the first read is older
};

}  // namespace keldwick
