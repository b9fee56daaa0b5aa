#pragma once
// The windows name their symbols by what they show ("drive", "check-filled");
// this maps each to the freedesktop icon names a theme may have, best first, and draws a
// simple picture of its own when the theme has none of them, so no symbol is ever blank.

#include <QIcon>
#include <QStringList>
#include <string_view>

namespace keldwick::Symbols {

// The theme icon names tried for `symbol`, best first; empty for a symbol not in the table.
QStringList themeNames(std::string_view symbol);

// The first theme icon the current theme has, else the drawn picture for the symbol's
// kind (a generic dot for a symbol not in the table). Main thread only.
QIcon icon(std::string_view symbol);

// The drawn picture alone, in `color` (the palette's text colour when invalid).
QIcon drawn(std::string_view symbol, const QColor& color = QColor());

// Makes the freedesktop icon themes reachable where no desktop set one up (a bare X
// server, the offscreen platform): adds the XDG data folders' "icons" to the search
// path and, with no theme chosen, uses Adwaita or hicolor. Main thread, after the
// application object exists.
void useDesktopIconTheme();

}  // namespace keldwick::Symbols
