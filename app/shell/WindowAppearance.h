#pragma once
// The windows follow the desktop's colour scheme as its portal tells it, live: Debian's Qt
// has no platform theme that reads the portal, so the program applies the look itself
// (windowLookFor). The platform's own style and palette are kept from the start, to go
// back to when the desktop has no preference.

#include <QObject>
#include <QPalette>
#include <QString>
#include <optional>

#include "desktop/DesktopColorScheme.h"

namespace keldwick {

class WindowAppearance final : public QObject {
    Q_OBJECT

public:
    // Takes the application's style and palette now as the platform's own, then applies
    // the look for `scheme`'s value and each change of it. `scheme` must outlive this.
    // Main thread only, after the QApplication is made.
    explicit WindowAppearance(DesktopColorScheme& scheme, QObject* parent = nullptr);

    WindowLook look() const { return look_; }

    // Applies the look for `scheme` unless it is the one applied.
    void follow(std::optional<ColorScheme> scheme);

private:
    void apply(WindowLook look);

    QString platformStyle_;
    QPalette platformPalette_;
    WindowLook look_ = WindowLook::platform;
};

}  // namespace keldwick
