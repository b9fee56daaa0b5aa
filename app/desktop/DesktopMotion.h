#pragma once
// Whether the desktop asks for less motion, read from its portal and followed as it
// changes: the portal's own "reduced-motion" set to 1 (newer portals, on any desktop), or,
// where that says nothing, GNOME's "enable-animations" switched off or KDE's animation
// speed set to instant (an AnimationDurationFactor of 0). Without a portal, or while it
// hasn't answered, motion is allowed.

#include <QObject>
#include <QVariant>
#include <optional>

#include "desktop/PortalSettings.h"

namespace keldwick {

// The settings read, by namespace and key.
inline constexpr const char* reducedMotionKey = "reduced-motion";
inline constexpr const char* gnomeInterfaceNamespace = "org.gnome.desktop.interface";
inline constexpr const char* gnomeAnimationsKey = "enable-animations";
inline constexpr const char* kdeGlobalsNamespace = "org.kde.kdeglobals.KDE";
inline constexpr const char* kdeAnimationFactorKey = "AnimationDurationFactor";

// Less motion when the portal's setting is 1 (reduce; 0 is no preference), or when either
// desktop's own says so; a value that is absent or of no usable type says nothing.
// The portal's is an unsigned number; GNOME's a boolean; KDE's factor a number, which
// KDE's portal sends as text.
bool reduceMotionFrom(const std::optional<QVariant>& reducedMotion, const std::optional<QVariant>& gnomeAnimations,
                      const std::optional<QVariant>& kdeFactor);

class DesktopMotion final : public QObject {
    Q_OBJECT

public:
    // Reads the three settings from `portal` (which must outlive this) and follows their
    // changes. Main thread only.
    explicit DesktopMotion(PortalSettings& portal, QObject* parent = nullptr);

    bool reduceMotion() const { return reduceMotion_; }

signals:
    void reduceMotionChanged(bool reduceMotion);

private:
    struct Setting {
        std::optional<QVariant> value;
        bool changed = false;  // a change arrived: a late answer to the first read is older
    };
    void heard(Setting& setting, std::optional<QVariant> value, bool isChange);

    Setting appearance_, gnome_, kde_;
    bool reduceMotion_ = false;
};

}  // namespace keldwick
