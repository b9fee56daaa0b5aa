#pragma once
// The part every window's host shares in the running program: the model's state, its
// injected clock, and its changes announced as the window's stateChanged. A window's host
// derives from AppModelWindowHost<ItsHost> and adds the operations that window starts.

#include "model/ModelState.h"
#include "model/ModelStore.h"
#include "ui/WindowHost.h"

namespace keldwick {

class AppModel;

namespace modelhost {
const ModelState& state(const AppModel& model);
Date now(AppModel& model);
// Emits `host`'s stateChanged on every change of the model, or, when `only` names some
// fields, on a change of one of those alone.
void follow(AppModel& model, WindowHost& host, ModelFields only);
}  // namespace modelhost

template <class Host>
class AppModelWindowHost : public Host {
public:
    // `model` outlives the host. `only`: the changes the window shows, when not all of them.
    explicit AppModelWindowHost(AppModel& model, ModelFields only = {}, QObject* parent = nullptr)
        : Host(parent), model_(model) {
        modelhost::follow(model_, *this, only);
    }

    const ModelState& state() const override { return modelhost::state(model_); }
    Date now() const override { return modelhost::now(model_); }

protected:
    AppModel& model_;
};

}  // namespace keldwick
