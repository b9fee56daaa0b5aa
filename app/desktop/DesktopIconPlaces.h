#pragma once
// Keeps a desktop item's icon where the user put it while the item is replaced by a link.
// File managers that draw the desktop through GIO (Nautilus and its desktop extension,
// Nemo, Caja) keep each icon's position as GIO metadata of the item's path; it is read
// and written by running `gio` with an argument list. Where gio or the metadata store is
// missing, or the desktop keeps positions elsewhere, `place` gives none and `restore`
// does nothing: the move itself never depends on it.

#include "engine/IconPlacing.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace keldwick {

class DesktopIconPlaces final : public IconPlacing {
public:
    // `desktop`: the desktop folder's absolute path. `gio` is the program run (found on
    // PATH unless a path is given) with `environment` (the session bus and data folder
    // select the metadata store).
    explicit DesktopIconPlaces(std::string desktop, QString gio = QStringLiteral("gio"),
                               QProcessEnvironment environment = QProcessEnvironment::systemEnvironment());

    // The position of an item directly in the desktop folder, from the first of the
    // position keys it has. Anything else gives none without starting a process. Blocks
    // for at most about three seconds.
    std::optional<IconPlace> place(const std::string& path) override;

    // Writes the position back (under the key `place` read it from) later, on a pool
    // thread, trying up to 8 times 0.4 seconds apart while the file manager catches up
    // with the new link. Returns at once; a place that isn't a whole-number position
    // within ±2^53 is not written.
    void restore(const IconPlace& place, const std::string& path) override;

    const std::string desktop;

    // The metadata keys of an icon position, in the order they are read.
    static const QStringList& positionKeys();

    // "x,y" as the metadata holds it: the pieces between commas (empty ones dropped),
    // trimmed of spaces and tabs, each a whole decimal number; pieces that aren't are
    // dropped. Exactly two finite numbers within ±2^53 give a place.
    static std::optional<IconPlace> parsePosition(std::string_view text);

    // The argument that names `path` to gio exactly, whatever bytes it holds: a file URI.
    static QString locationArgument(const std::string& path);

    // Runs `program` with `arguments`: its trimmed standard output when it exits with
    // status 0 within `deadlineMs`, else none (a process still running is killed).
    static std::optional<QString> runTool(const QString& program, const QStringList& arguments,
                                          const QProcessEnvironment& environment, int deadlineMs);

private:
    struct Shared {
        QString gio;
        QProcessEnvironment environment;
        std::mutex lock;
        std::map<std::string, QString> keys;  // the key each place was read from, by path
    };
    std::shared_ptr<Shared> shared_;
};

}  // namespace keldwick
