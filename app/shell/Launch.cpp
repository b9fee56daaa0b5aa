#include "shell/Launch.h"

#include <QByteArray>

#include "foundation/PathUtil.h"

namespace keldwick {

QString fileUri(const std::string& path) {
    const QByteArray bytes(path.data(), static_cast<qsizetype>(path.size()));
    return QStringLiteral("file://") + QString::fromLatin1(bytes.toPercentEncoding("/"));
}

std::string usageText(const std::string& program) {
    return "Usage: " + program + " [--move PATH... | --move-uris URI...]\n"
           "Keeps this computer's disk from filling up by moving files you haven't used in a\n"
           "while to your Keldwick drive. It lives in the tray; starting it again shows its panel.\n"
           "\n"
           "  --move PATH...      move these files or folders to the drive now (every argument\n"
           "                      after it is one item, names starting with a dash too)\n"
           "  --move-uris URI...  the same for file:// URIs, as file managers pass them\n"
           "  --help              show this help and exit\n"
           "  --version           show the version and exit\n";
}

Launch parseLaunch(const std::vector<std::string>& arguments, const std::string& currentFolder) {
    Launch launch;
    size_t i = 0;
    for (; i < arguments.size(); ++i) {
        if (arguments[i] == "--move" || arguments[i] == "--move-uris") break;
        // The first of them wins, as with any program's --help --version.
        if (arguments[i] == "--help" || arguments[i] == "-h") {
            if (launch.ask == Launch::Ask::run) launch.ask = Launch::Ask::help;
            continue;
        }
        if (arguments[i] == "--version") {
            if (launch.ask == Launch::Ask::run) launch.ask = Launch::Ask::version;
            continue;
        }
        launch.toolkitArguments.push_back(arguments[i]);
    }
    if (i == arguments.size()) return launch;
    const bool uris = arguments[i] == "--move-uris";
    for (++i; i < arguments.size(); ++i) {
        const std::string& item = arguments[i];
        if (item.empty()) continue;
        if (uris) {
            launch.moveUris.push_back(QString::fromUtf8(item.data(), static_cast<qsizetype>(item.size())));
        } else {
            launch.moveUris.push_back(fileUri(item.front() == '/' ? item : PathUtil::join(currentFolder, item)));
        }
    }
    return launch;
}

}  // namespace keldwick
