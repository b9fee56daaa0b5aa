#include "model/ModelState.h"

namespace keldwick {

bool isBusy(Activity activity) {
    return activity == Activity::moving || activity == Activity::restoring || activity == Activity::recovering;
}

}  // namespace keldwick
