#pragma once
// The tray glyph drawn with QPainter, and the icons made from it. Tray hosts don't tint
// monochrome pictures as a menu bar does, so the glyph comes in two tones: dark strokes
// for a light panel, light strokes for a dark one.

#include <QColor>
#include <QIcon>
#include <QImage>

#include "menubar/GlyphPicture.h"

class QPainter;
class QPalette;

namespace keldwick::MenuBarGlyph {

enum class Tone { dark, light };

// Light strokes when the palette's window colour is dark, dark strokes otherwise.
Tone toneFor(const QPalette& palette);
QColor colorOf(Tone tone);

// Paints `picture` in `color` into the painter's current 20 × 18 point box.
void paint(QPainter& painter, const Picture& picture, const QColor& color);

// The picture at `scale` pixels a point, on a transparent background.
QImage render(const Picture& picture, Tone tone, double scale);

// The tray's icon for a fill and a mark: the glyph centred in square pixmaps of the sizes
// tray hosts ask for. Icons are cached by (step, mark, tone) for the process's life, so
// a repeated request returns the very same icon (equal cacheKey()). Main thread only.
QIcon image(double fill, Mark mark, Tone tone);

}  // namespace keldwick::MenuBarGlyph
