#pragma once
// Collects the messages logged under one Qt logging category while it lives, in place of
// the handler installed before it, which still gets every other message and is put back
// at the end. One at a time, made and ended on the main thread; other threads may log
// meanwhile. Header only: the support folder's sources also go into tests without Qt.

#include <QLoggingCategory>
#include <QString>

#include <cassert>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace keldwick::test {

class CapturedLog {
public:
    // The category must have its info messages on (a category of the program has).
    explicit CapturedLog(const QLoggingCategory& category) : name_(category.categoryName()) {
        std::lock_guard guard(lock());
        assert(active() == nullptr);
        active() = this;
        previous() = qInstallMessageHandler(handle);
    }

    ~CapturedLog() {
        std::lock_guard guard(lock());
        qInstallMessageHandler(previous());
        active() = nullptr;
    }

    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    // The messages so far, oldest first.
    std::vector<std::string> lines() const {
        std::lock_guard guard(lock());
        return lines_;
    }

    void clear() {
        std::lock_guard guard(lock());
        lines_.clear();
    }

private:
    // A thread may still be inside the handler when the capture ends: the lock makes it
    // either finish first or find no capture and pass the message on.
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
        QtMessageHandler forward = nullptr;
        {
            std::lock_guard guard(lock());
            CapturedLog* capture = active();
            if (capture && context.category && std::strcmp(context.category, capture->name_) == 0) {
                capture->lines_.push_back(message.toStdString());
                return;
            }
            forward = previous();
        }
        if (forward) forward(type, context, message);
    }

    static std::mutex& lock() {
        static std::mutex mutex;
        return mutex;
    }
    static CapturedLog*& active() {
        static CapturedLog* capture = nullptr;
        return capture;
    }
    static QtMessageHandler& previous() {
        static QtMessageHandler handler = nullptr;
        return handler;
    }

    const char* name_;
    std::vector<std::string> lines_;
};

}  // namespace keldwick::test
