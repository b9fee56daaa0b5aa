#pragma once
// Whether the desktop asks for less motion, read from its portal and followed as it
// changes: GNOME's "enable-animations" switched off, or KDE's animation speed set to
// instant (an AnimationDurationFactor of 0). Without a portal, or while it hasn't
// answered, motion is allowed.

#include <QObject>
#include <QVariant>
#include <optional>

namespace keldwick {

class PortalSettings;

// The settings read, by namespace and key.
inline constexpr const char* gnomeInterfaceNamespace = "org.gnome.desktop.interface";
inline constexpr const char* gnomeAnimationsKey = "enable-animations";
inline constexpr const char* kdeGlobalsNamespace = "org.kde.kdeglobals.KDE";
inline constexpr const char* kdeAnimationFactorKey = "AnimationDurationFactor";

// Less motion when either desktop says so; a value that is absent or of no usable type
// says nothing. GNOME's is a boolean; KDE's factor is a number, which KDE's portal sends
// as text.
bool reduceMotionFrom(const std::optional<QVariant>& gnomeAnimations, const std::optional<QVariant>& kdeFactor);

class DesktopMotion final : public QObject {
    Q_OBJECT

public:
    // Reads both settings from `portal` (which must outlive this) and follows their
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

    Setting gnome_, kde_;
    bool reduceMotion_ = false;
};

}  // namespace keldwick
