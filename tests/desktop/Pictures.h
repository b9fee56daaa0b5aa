#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

class QWidget;

namespace keldwick::test {

// Shows the window at this size, lets it lay out and saves what it draws as
// build/screenshots/<name>.png, beside the test build, so a person can look at each
// window in the states its tests set up. Fails the test when nothing could be drawn or
// saved, when a control shown has no accessible name (see unnamedControls) and when a
// text shown is cut (see cutTexts).
//
// The environment picks the variant pictured: KELDWICK_PICTURES_THEME=dark lays a dark
// palette over the application (see usePictureTheme) and adds "-dark" to the name; a
// device pixel ratio of 2 (QT_SCALE_FACTOR=2) adds "-2x".
void savePicture(QWidget& window, QSize size, const QString& name);

// The shown texts of `window` that don't fit where they are shown, one line each: a
// one-line label narrower or lower than its text (an elided label shows its shortened
// text, which must fit), a wrapped label lower than its lines, a button narrower than
// its title.
QStringList cutTexts(const QWidget* window);

// The dark palette when KELDWICK_PICTURES_THEME is "dark"; nothing otherwise. Called by
// the windows' tests' main before any window exists.
void usePictureTheme();

// The long drive name the pictures show, so that a text cut by it is seen.
inline constexpr const char* longDriveName = "Seagate Expansion Desktop 4TB \u2013 Familienarchiv 2024";

// The shown controls of `window` (buttons, fields, lists and tables, sliders, ...) whose
// accessible name is empty, so neither a screen reader nor the end-to-end run could name
// them: one line each, the class, then the widgets it sits in.
QStringList unnamedControls(const QWidget* window);

}  // namespace keldwick::test
