#include "ui/AppModelWindowHost.h"

#include <QMetaMethod>

#include "model/AppModel.h"
#include "model/ModelChanges.h"

namespace keldwick::modelhost {

const ModelState& state(const AppModel& model) { return model.state(); }

Date now(AppModel& model) { return model.services().clock->now(); }

void follow(AppModel& model, WindowHost& host, std::initializer_list<ModelSignal> only) {
    if (only.size() == 0) {
        connectEveryChange(model, host, QMetaMethod::fromSignal(&WindowHost::stateChanged));
        return;
    }
    for (ModelSignal signal : only) QObject::connect(&model, signal, &host, &WindowHost::stateChanged);
}

}  // namespace keldwick::modelhost
