#include "model/LogSink.h"

#include <QString>
#include <atomic>
#include <cstring>
#include <string_view>

namespace keldwick::LogSink {

namespace {

std::atomic<QtMessageHandler> previous{nullptr};

void handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const QByteArray text = message.toUtf8();
    Log::write(level(type), category(context.category), std::string_view(text.constData(), text.size()));
    if (QtMessageHandler before = previous.load()) before(type, context, message);
}

}  // namespace

void install() { previous.store(qInstallMessageHandler(handle)); }

std::string category(const char* qtCategory) {
    constexpr std::string_view prefix = "com.orvandel.Keldwick.";
    if (!qtCategory || std::strcmp(qtCategory, "default") == 0 || *qtCategory == '\0') return "program";
    const std::string_view name(qtCategory);
    if (name.starts_with(prefix) && name.size() > prefix.size()) return std::string(name.substr(prefix.size()));
    return std::string(name);
}

Log::Level level(QtMsgType type) {
    switch (type) {
        case QtDebugMsg: return Log::Level::debug;
        case QtInfoMsg: return Log::Level::info;
        case QtWarningMsg: return Log::Level::notice;
        case QtCriticalMsg: return Log::Level::error;
        case QtFatalMsg: return Log::Level::fault;
    }
    return Log::Level::notice;
}

}  // namespace keldwick::LogSink
