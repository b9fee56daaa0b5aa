#pragma once
// The program's one log sink. Its messages go through Qt's logging (its own categories,
// Qt's own warnings, a bare qWarning) and a Qt message handler hands each on to the core's
// Log, so everything the program and the core report ends in the system log, under the
// category it was written in. The handler it replaces still gets every message (the
// terminal keeps what it showed before).

#include <QtGlobal>
#include <string>

#include "foundation/Log.h"

namespace keldwick::LogSink {

// Installs the handler; once, early in main, before any thread logs.
void install();

// The system log's category for a Qt category: the part after "com.orvandel.Keldwick.",
// "program" for Qt's default category and for none, any other name as it is.
std::string category(const char* qtCategory);
Log::Level level(QtMsgType type);

}  // namespace keldwick::LogSink
