#include "model/ModelStore.h"

#include "model/MainThread.h"

namespace keldwick {

ModelStore::ModelStore(QObject* parent) : QObject(parent) {}

void ModelStore::announce(ModelFields fields) {
    assertMainThread();
    if (!fields.empty()) emit changed(fields);
}

}  // namespace keldwick
