#include "desktop/DesktopColorScheme.h"

#include <QPointer>

#include "model/MainThread.h"
#include "desktop/PortalSettings.h"

namespace keldwick {

std::optional<ColorScheme> colorSchemeFrom(const std::optional<QVariant>& value) {
    if (!value) return std::nullopt;
    // The portal sends an unsigned 32-bit number; a text or a fraction is no answer.
    const QMetaType type = value->metaType();
    if (type != QMetaType::fromType<uint>() && type != QMetaType::fromType<int>() &&
        type != QMetaType::fromType<qulonglong>() && type != QMetaType::fromType<qlonglong>() &&
        type != QMetaType::fromType<uchar>()) {
        return std::nullopt;
    }
    switch (value->toLongLong()) {
    case 0:
        return ColorScheme::noPreference;
    case 1:
        return ColorScheme::dark;
    case 2:
        return ColorScheme::light;
    default:
        return std::nullopt;
    }
}

DesktopColorScheme::DesktopColorScheme(PortalSettings& portal, QObject* parent) : QObject(parent) {
    assertMainThread();
    qRegisterMetaType<std::optional<keldwick::ColorScheme>>();
    const QString space = QString::fromLatin1(appearanceNamespace);
    const QString key = QString::fromLatin1(colorSchemeKey);
    connect(&portal, &PortalSettings::settingChanged, this,
            [=, this](const QString& nameSpace, const QString& changedKey, const QVariant& value) {
                if (nameSpace == space && changedKey == key) heard(value, true);
            });
    // The portal may answer after this object is gone.
    QPointer<DesktopColorScheme> self(this);
    portal.read(space, key, [self](std::optional<QVariant> value) {
        if (self) self->heard(std::move(value), false);
    });
}

void DesktopColorScheme::heard(std::optional<QVariant> value, bool isChange) {
    if (!isChange && changed_) return;
    changed_ = changed_ || isChange;
    const std::optional<ColorScheme> scheme = colorSchemeFrom(value);
    if (scheme == scheme_) return;
    scheme_ = scheme;
    emit schemeChanged(scheme);
}

}  // namespace keldwick
