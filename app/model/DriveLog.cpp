#include "model/DriveLog.h"

Q_LOGGING_CATEGORY(keldwickDriveLog, "com.orvandel.Keldwick.drive")
