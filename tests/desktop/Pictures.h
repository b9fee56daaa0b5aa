#pragma once

#include <QSize>
#include <QString>

class QWidget;

namespace keldwick::test {

// Shows the window at this size, lets it lay out and saves what it draws as
// build/screenshots/<name>.png, beside the test build, so a person can look at each
// window in the states its tests set up. Fails the test when nothing could be drawn or saved.
void savePicture(QWidget& window, QSize size, const QString& name);

}  // namespace keldwick::test
