#include "desktop/DesktopMotion.h"

#include <QPointer>

#include "model/MainThread.h"
#include "desktop/PortalSettings.h"

namespace keldwick {

bool reduceMotionFrom(const std::optional<QVariant>& reducedMotion, const std::optional<QVariant>& gnomeAnimations,
                      const std::optional<QVariant>& kdeFactor) {
    if (reducedMotion && reducedMotion->metaType() != QMetaType::fromType<bool>()) {
        bool ok = false;
        if (reducedMotion->toUInt(&ok) == 1 && ok) return true;
    }
    bool reduce = false;
    if (gnomeAnimations) {
        if (gnomeAnimations->metaType() == QMetaType::fromType<bool>()) {
            reduce = reduce || !gnomeAnimations->toBool();
        } else if (gnomeAnimations->metaType() == QMetaType::fromType<QString>()) {
            reduce = reduce || gnomeAnimations->toString() == QLatin1String("false");
        }
    }
    if (kdeFactor) {
        bool ok = false;
        const double factor = kdeFactor->toDouble(&ok);
        reduce = reduce || (ok && factor == 0.0);
    }
    return reduce;
}

DesktopMotion::DesktopMotion(PortalSettings& portal, QObject* parent) : QObject(parent) {
    assertMainThread();
    const QString appearanceSpace = QString::fromLatin1(appearanceNamespace);
    const QString appearanceKey = QString::fromLatin1(reducedMotionKey);
    const QString gnomeSpace = QString::fromLatin1(gnomeInterfaceNamespace);
    const QString gnomeKey = QString::fromLatin1(gnomeAnimationsKey);
    const QString kdeSpace = QString::fromLatin1(kdeGlobalsNamespace);
    const QString kdeKey = QString::fromLatin1(kdeAnimationFactorKey);
    connect(&portal, &PortalSettings::settingChanged, this,
            [=, this](const QString& nameSpace, const QString& key, const QVariant& value) {
                if (nameSpace == appearanceSpace && key == appearanceKey) heard(appearance_, value, true);
                if (nameSpace == gnomeSpace && key == gnomeKey) heard(gnome_, value, true);
                if (nameSpace == kdeSpace && key == kdeKey) heard(kde_, value, true);
            });
    // The portal may answer after this object is gone.
    QPointer<DesktopMotion> self(this);
    portal.read(appearanceSpace, appearanceKey, [self](std::optional<QVariant> value) {
        if (self) self->heard(self->appearance_, std::move(value), false);
    });
    portal.read(gnomeSpace, gnomeKey, [self](std::optional<QVariant> value) {
        if (self) self->heard(self->gnome_, std::move(value), false);
    });
    portal.read(kdeSpace, kdeKey, [self](std::optional<QVariant> value) {
        if (self) self->heard(self->kde_, std::move(value), false);
    });
}

void DesktopMotion::heard(Setting& setting, std::optional<QVariant> value, bool isChange) {
    if (!isChange && setting.changed) return;
    setting.changed = setting.changed || isChange;
    setting.value = std::move(value);
    const bool reduce = reduceMotionFrom(appearance_.value, gnome_.value, kde_.value);
    if (reduce == reduceMotion_) return;
    reduceMotion_ = reduce;
    emit reduceMotionChanged(reduce);
}

}  // namespace keldwick
