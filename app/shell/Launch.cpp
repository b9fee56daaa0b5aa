#include "shell/Launch.h"

#include <QByteArray>

#include "foundation/PathUtil.h"

namespace keldwick {

QString fileUri(const std::string& path) {
    const QByteArray bytes(path.data(), static_cast<qsizetype>(path.size()));
    return QStringLiteral("file://") + QString::fromLatin1(bytes.toPercentEncoding("/"));
}

Launch parseLaunch(const std::vector<std::string>& arguments, const std::string& currentFolder) {
    Launch launch;
    size_t i = 0;
    for (; i < arguments.size(); ++i) {
        if (arguments[i] == "--move" || arguments[i] == "--move-uris") break;
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
