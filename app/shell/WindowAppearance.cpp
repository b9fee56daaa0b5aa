#include "shell/WindowAppearance.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

#include "model/MainThread.h"

namespace keldwick {

WindowAppearance::WindowAppearance(DesktopColorScheme& scheme, QObject* parent)
    : QObject(parent), platformStyle_(QApplication::style()->name()), platformPalette_(QApplication::palette()) {
    assertMainThread();
    connect(&scheme, &DesktopColorScheme::schemeChanged, this, &WindowAppearance::follow);
    follow(scheme.scheme());
}

void WindowAppearance::follow(std::optional<ColorScheme> scheme) {
    assertMainThread();
    const WindowLook look = windowLookFor(scheme, isDarkPalette(platformPalette_));
    if (look == look_) return;
    apply(look);
}

void WindowAppearance::apply(WindowLook look) {
    look_ = look;
    // The style first: setting one puts its own palette in place, which ours then replaces.
    switch (look) {
        case WindowLook::platform:
            if (QStyle* style = QStyleFactory::create(platformStyle_)) QApplication::setStyle(style);
            QApplication::setPalette(platformPalette_);
            break;
        case WindowLook::fusionDark:
            QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
            QApplication::setPalette(darkPalette());
            break;
        case WindowLook::fusionLight: {
            QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"));
            QApplication::setStyle(fusion);
            QApplication::setPalette(fusion->standardPalette());
            break;
        }
    }
}

}  // namespace keldwick
