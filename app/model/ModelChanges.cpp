#include "model/ModelChanges.h"

#include "model/AppModel.h"

namespace keldwick {

void connectEveryChange(AppModel& model, QObject& receiver, const QMetaMethod& method) {
    const QMetaObject& meta = AppModel::staticMetaObject;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod signal = meta.method(i);
        if (signal.methodType() != QMetaMethod::Signal || signal.parameterCount() != 0) continue;
        QObject::connect(&model, signal, &receiver, method);
    }
}

}  // namespace keldwick
