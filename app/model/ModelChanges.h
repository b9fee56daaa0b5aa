#pragma once
// Windows and the tray redraw on any change of the model: this connects every change
// signal the model announces (each signal without arguments) to one method of `receiver`,
// a slot or a signal of its own.

#include <QMetaMethod>
#include <QObject>

namespace keldwick {

class AppModel;

void connectEveryChange(AppModel& model, QObject& receiver, const QMetaMethod& method);

}  // namespace keldwick
