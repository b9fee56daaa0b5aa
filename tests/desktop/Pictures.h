#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

class QWidget;

namespace keldwick::test {

// Shows the window at this size, lets it lay out and saves what it draws as
// build/screenshots/<name>.png, beside the test build, so a person can look at each
// window in the states its tests set up. Fails the test when nothing could be drawn or
// saved, and when a control shown has no accessible name (see unnamedControls).
void savePicture(QWidget& window, QSize size, const QString& name);

// The shown controls of `window` (buttons, fields, lists and tables, sliders, ...) whose
// accessible name is empty, so neither a screen reader nor the end-to-end run could name
// them: one line each, the class, then the widgets it sits in.
QStringList unnamedControls(const QWidget* window);

}  // namespace keldwick::test
