#include "ui/AppModelWindowHost.h"

#include "model/AppModel.h"

namespace keldwick::modelhost {

const ModelState& state(const AppModel& model) { return model.state(); }

Date now(AppModel& model) { return model.services().clock->now(); }

void follow(AppModel& model, WindowHost& host, ModelFields only) {
    if (only.empty()) {
        QObject::connect(&model.store(), &ModelStore::changed, &host, &WindowHost::stateChanged);
        return;
    }
    QObject::connect(&model.store(), &ModelStore::changed, &host, [&host, only](ModelFields fields) {
        if (fields.intersects(only)) emit host.stateChanged();
    });
}

}  // namespace keldwick::modelhost
