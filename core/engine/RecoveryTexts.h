#pragma once
// The sentences recovery writes into records and events, kept together because the
// passes and the repairs share several of them. Internal to the engine.

#include <string>

#include "foundation/Formatting.h"

namespace keldwick::RecoveryTexts {

using keldwick::quoted;

inline const std::string driveNotConnected = "The drive isn't connected.";
inline const std::string shortcutDeleted = "Its shortcut was deleted or moved. The file is still on your drive.";
inline const std::string shortcutElsewhere = "Its shortcut now points somewhere else. The file is still on your drive.";
inline const std::string anotherFile =
    "Another file has taken its place on your computer \xE2\x80\x94 probably a newer version saved by an app. "
    "The older copy is still on your drive.";
inline const std::string recoveredSuffix = " (recovered by Keldwick)";
inline const std::string restoredSuffix = " (restored by Keldwick)";

}  // namespace keldwick::RecoveryTexts
