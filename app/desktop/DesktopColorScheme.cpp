#include "desktop/DesktopColorScheme.h"

#include <QColor>
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

WindowLook windowLookFor(std::optional<ColorScheme> scheme, bool platformIsDark) {
    if (scheme == ColorScheme::dark) return platformIsDark ? WindowLook::platform : WindowLook::fusionDark;
    if (scheme == ColorScheme::light) return platformIsDark ? WindowLook::fusionLight : WindowLook::platform;
    return WindowLook::platform;
}

bool isDarkPalette(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < palette.color(QPalette::WindowText).lightness();
}

QPalette darkPalette() {
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
    dark.setColor(QPalette::WindowText, QColor(0xe6, 0xe6, 0xe6));
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    dark.setColor(QPalette::AlternateBase, QColor(0x33, 0x33, 0x33));
    dark.setColor(QPalette::Text, QColor(0xe6, 0xe6, 0xe6));
    dark.setColor(QPalette::BrightText, Qt::white);
    dark.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3a));
    dark.setColor(QPalette::ButtonText, QColor(0xe6, 0xe6, 0xe6));
    dark.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xe4));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::Link, QColor(0x78, 0xae, 0xed));
    dark.setColor(QPalette::LinkVisited, QColor(0xb0, 0x8c, 0xe8));
    dark.setColor(QPalette::PlaceholderText, QColor(0xa0, 0xa0, 0xa0));
    dark.setColor(QPalette::ToolTipBase, QColor(0x3a, 0x3a, 0x3a));
    dark.setColor(QPalette::ToolTipText, QColor(0xe6, 0xe6, 0xe6));
    dark.setColor(QPalette::Light, QColor(0x50, 0x50, 0x50));
    dark.setColor(QPalette::Midlight, QColor(0x48, 0x48, 0x48));
    dark.setColor(QPalette::Mid, QColor(0x40, 0x40, 0x40));
    dark.setColor(QPalette::Dark, QColor(0x20, 0x20, 0x20));
    dark.setColor(QPalette::Shadow, QColor(0x10, 0x10, 0x10));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        dark.setColor(QPalette::Disabled, role, QColor(0x80, 0x80, 0x80));
    }
    dark.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x50, 0x50, 0x50));
    return dark;
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
