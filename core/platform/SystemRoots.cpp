#include "platform/SystemRoots.h"

namespace keldwick {

const SystemRoots& SystemRoots::system() {
    static const SystemRoots roots;
    return roots;
}

}  // namespace keldwick
