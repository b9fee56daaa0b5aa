#pragma once
// The log category of drive events ("com.orvandel.Keldwick" subsystem, "drive" category).

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(keldwickDriveLog)
