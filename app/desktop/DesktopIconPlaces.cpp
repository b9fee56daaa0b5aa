#include "desktop/DesktopIconPlaces.h"

#include "foundation/PathUtil.h"
#include "model/BackgroundExecutor.h"

#include <QByteArray>
#include <QProcess>
#include <QThread>
#include <QUrl>
#include <charconv>
#include <cmath>
#include <vector>

namespace keldwick {

namespace {

constexpr int toolDeadlineMs = 3000;
constexpr int restoreAttempts = 8;
constexpr unsigned long restoreWaitMs = 400;
// Beyond 2^53 a double no longer holds every whole number, and the value can't be
// written back as the integer it stands for.
constexpr double largestCoordinate = 9007199254740992.0;

bool isWritable(double value) {
    return std::isfinite(value) && std::fabs(value) <= largestCoordinate;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// The value of `key` in gio info's output. Only the attribute lines count: they follow
// the last "attributes:" line, after the item's own path, which may hold any text.
std::optional<std::string> attributeValue(const QString& output, const QString& key) {
    const QStringList lines = output.split(u'\n');
    qsizetype start = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i] == QStringLiteral("attributes:")) {
            start = i + 1;
        }
    }
    if (start < 0) {
        return std::nullopt;
    }
    const QString prefix = QStringLiteral("  ") + key + QStringLiteral(": ");
    for (qsizetype i = start; i < lines.size(); ++i) {
        if (lines[i].startsWith(prefix)) {
            return lines[i].mid(prefix.size()).toStdString();
        }
    }
    return std::nullopt;
}

}  // namespace

DesktopIconPlaces::DesktopIconPlaces(std::string desktop, QString gio, QProcessEnvironment environment)
    : desktop(std::move(desktop)), shared_(std::make_shared<Shared>()) {
    shared_->gio = std::move(gio);
    shared_->environment = std::move(environment);
}

const QStringList& DesktopIconPlaces::positionKeys() {
    static const QStringList keys = {
        QStringLiteral("metadata::nautilus-icon-position"),
        QStringLiteral("metadata::desktop-icon-position"),
        QStringLiteral("metadata::nemo-icon-position"),
        QStringLiteral("metadata::caja-icon-position"),
    };
    return keys;
}

std::optional<IconPlace> DesktopIconPlaces::parsePosition(std::string_view text) {
    std::vector<double> numbers;
    while (!text.empty()) {
        size_t comma = text.find(',');
        std::string_view piece = trimmed(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        double value = 0;
        auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
        if (!piece.empty() && error == std::errc() && end == piece.data() + piece.size()) {
            numbers.push_back(value);
        }
    }
    if (numbers.size() != 2 || !isWritable(numbers[0]) || !isWritable(numbers[1])) {
        return std::nullopt;
    }
    return IconPlace{numbers[0], numbers[1]};
}

QString DesktopIconPlaces::locationArgument(const std::string& path) {
    QByteArray bytes(path.data(), static_cast<qsizetype>(path.size()));
    return QStringLiteral("file://") + QString::fromLatin1(bytes.toPercentEncoding("/"));
}

std::optional<QString> DesktopIconPlaces::runTool(const QString& program, const QStringList& arguments,
                                                  const QProcessEnvironment& environment, int deadlineMs) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardErrorFile(QProcess::nullDevice());
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(deadlineMs)) {
        return std::nullopt;
    }
    if (!process.waitForFinished(deadlineMs)) {
        process.kill();
        process.waitForFinished(-1);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        return std::nullopt;
    }
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

std::optional<IconPlace> DesktopIconPlaces::place(const std::string& path) {
    if (PathUtil::parent(path) != desktop) {
        return std::nullopt;
    }
    QStringList arguments = {QStringLiteral("info"), QStringLiteral("--nofollow-symlinks"),
                             QStringLiteral("--attributes=") + positionKeys().join(u','), locationArgument(path)};
    std::optional<QString> output = runTool(shared_->gio, arguments, shared_->environment, toolDeadlineMs);
    if (!output) {
        return std::nullopt;
    }
    for (const QString& key : positionKeys()) {
        std::optional<std::string> value = attributeValue(*output, key);
        if (!value) {
            continue;
        }
        std::optional<IconPlace> place = parsePosition(*value);
        if (place) {
            std::lock_guard guard(shared_->lock);
            shared_->keys[path] = key;
        }
        return place;
    }
    return std::nullopt;
}

void DesktopIconPlaces::restore(const IconPlace& place, const std::string& path) {
    QString key = positionKeys().front();
    {
        std::lock_guard guard(shared_->lock);
        auto found = shared_->keys.find(path);
        if (found != shared_->keys.end()) {
            key = found->second;
            shared_->keys.erase(found);
        }
    }
    if (!isWritable(place.x) || !isWritable(place.y)) {
        return;
    }
    // Truncated toward zero, as the position is stored in whole pixels.
    QString position = QString::number(static_cast<int64_t>(place.x)) + u',' +
                       QString::number(static_cast<int64_t>(place.y));
    // gio takes an argument that begins with "-" for an option (and keeps a "--" as an
    // argument); the readers of these keys skip leading spaces.
    if (position.startsWith(u'-')) {
        position.prepend(u' ');
    }
    QStringList arguments = {QStringLiteral("set"), QStringLiteral("--nofollow-symlinks"),
                             QStringLiteral("--type=string"), locationArgument(path), key, position};
    // Retried while the file manager catches up with the file coming back; quitting stops
    // the retries rather than wait for them.
    auto cancel = std::make_shared<CancellationFlag>();
    ThreadPoolExecutor::shared()->runCancellable(WorkPriority::waiting, [shared = shared_, arguments, cancel] {
        for (int attempt = 0; attempt < restoreAttempts && !cancel->isCancelled(); ++attempt) {
            QThread::msleep(restoreWaitMs);
            if (cancel->isCancelled()) return;
            if (runTool(shared->gio, arguments, shared->environment, toolDeadlineMs)) {
                return;
            }
        }
    }, cancel);
}

}  // namespace keldwick
