#pragma once
// What every window reads of the program: the model's state, the time by the program's
// own clock, and word that either may have changed. Each window's host (FilesHost,
// PreviewHost, ...) adds the operations that window starts; the program hands an
// AppModelWindowHost over the model, tests a stand-in. Main thread only.

#include <QObject>

#include "foundation/Date.h"
#include "model/ModelState.h"

namespace keldwick {

class WindowHost : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    ~WindowHost() override = default;

    virtual const ModelState& state() const = 0;
    // The program's clock, never the wall clock directly, so tests can set the time.
    virtual Date now() const = 0;

signals:
    // A field of state() the window shows may have changed.
    void stateChanged();
};

}  // namespace keldwick
