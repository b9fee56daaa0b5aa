#pragma once
// The model's start: a second instance refused, the desktop services hooked to the model
// (a notice clicked, volumes and disks coming and going, a wake-up, an unmount asked for),
// the first status read before the event loop runs, the guide while set-up is not
// complete, then recovery and the first check. The services may outlive the model, so the
// hooks are undone when the controller goes. Main thread only.

#include <functional>
#include <string>

#include "model/AppServices.h"
#include "model/AppWindow.h"
#include "model/CheckController.h"
#include "model/DriveController.h"
#include "model/ModelStore.h"
#include "model/Notice.h"
#include "model/OperationsController.h"

namespace keldwick {

class StartupController {
public:
    using Done = std::function<void()>;

    // What the start does through the rest of the model.
    class Steps {
    public:
        virtual ~Steps() = default;
        virtual void openTarget(NoticeTarget target) = 0;
        virtual void post(const Notice& notice) = 0;
        // Reads the first status on the calling thread, so it shows complete.
        virtual void refreshNow() = 0;
        virtual void requestWindow(AppWindow window) = 0;
    };

    // Everything given outlives the controller.
    StartupController(ModelStore& store, const AppServices& services, DriveController& drives,
                      OperationsController& operations, CheckController& checks, Steps& steps);
    ~StartupController();
    StartupController(const StartupController&) = delete;
    StartupController& operator=(const StartupController&) = delete;

    // Once; later calls do nothing. Without the single-instance lock it only tells the user
    // another instance runs and asks the program to end.
    void start(bool holdsInstanceLock);

private:
    void hookServices();

    ModelStore& store_;
    const AppServices& services_;
    DriveController& drives_;
    OperationsController& operations_;
    CheckController& checks_;
    Steps& steps_;
    bool hooked_ = false;
};

}  // namespace keldwick
