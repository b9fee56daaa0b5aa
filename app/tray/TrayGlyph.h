#pragma once
// The tray glyph drawn with QPainter, and the icons made from it. Tray hosts don't tint
// monochrome pictures to match their panel, so the glyph comes in tones: dark strokes for a
// light panel, light strokes for a dark one, and, where the panel's shade can't be known,
// dark strokes in a thin light outline, which read on either.

#include <QColor>
#include <QIcon>
#include <QImage>
#include <optional>

#include "tray/GlyphPicture.h"

class QPainter;

namespace keldwick::TrayGlyph {

enum class Tone { dark, light, outlined };

// The tone for the panel the icon sits on: dark strokes on a light panel, light ones on a
// dark panel, outlined when the panel's colour isn't known. Neither the desktop's colour
// scheme nor the program's palette tells it: a dark scheme may come with a light panel.
Tone toneFor(std::optional<QColor> panel);
// The strokes' colour, and the outline's (invalid: none).
QColor colorOf(Tone tone);
QColor outlineOf(Tone tone);

// Paints `picture` in `color` into the painter's current 20 × 18 point box, each shape
// first widened by `outlineWidth` points on every side in `outline` when that is valid.
void paint(QPainter& painter, const Picture& picture, const QColor& color, const QColor& outline = QColor(),
           double outlineWidth = 0);

// The picture at `scale` pixels a point, on a transparent background.
QImage render(const Picture& picture, Tone tone, double scale);

// The picture as the tray shows it in a square of `size` pixels: the 20 × 18 box
// centred and as wide as the square, any outline one pixel wide.
QImage trayImage(const Picture& picture, Tone tone, int size);

// The tray's icon for a fill and a mark: the glyph centred in square pixmaps of the sizes
// tray hosts ask for. Icons are cached by (step, mark, tone) for the process's life, so
// a repeated request returns the very same icon (equal cacheKey()). Main thread only.
QIcon image(double fill, Mark mark, Tone tone);

// The program's own icon: the container half full, in the brand orange, centred in a
// square of `size` pixels (the marks' room beside it left out). Installed into the icon
// theme and carried by every window.
QImage programImage(int size);
QIcon programIcon();

}  // namespace keldwick::TrayGlyph
