#include "platform/SystemRoots.h"

namespace keldwick::platform {

const SystemRoots& SystemRoots::system() {
    static const SystemRoots roots;
    return roots;
}

}  // namespace keldwick::platform
