#include "model/AppEnvironment.h"

#include "drives/VolumeDriveLocator.h"
#include "foundation/PathUtil.h"
#include "foundation/UserFolders.h"

namespace keldwick {

AppEnvironment AppEnvironment::live() {
    std::string home = UserFolders::home();
    if (auto canonical = PathUtil::canonical(home)) home = *canonical;
    return AppEnvironment{home, UserFolders::support(), std::make_shared<VolumeDriveLocator>(), {}};
}

}  // namespace keldwick
