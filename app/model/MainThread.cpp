#include "model/MainThread.h"

#include <QCoreApplication>
#include <QThread>

namespace keldwick {

void assertMainThread(std::source_location caller) {
    auto* application = QCoreApplication::instance();
    if (application && QThread::currentThread() == application->thread()) return;
    qFatal("%s:%u: %s called off the main thread", caller.file_name(), static_cast<unsigned>(caller.line()),
           caller.function_name());
}

}  // namespace keldwick
