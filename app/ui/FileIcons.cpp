#include "ui/FileIcons.h"

#include "foundation/PathUtil.h"

#include <QApplication>
#include <QFile>
#include <QMimeDatabase>
#include <QStyle>

namespace keldwick {

QStringList iconNamesForPath(const std::string& path, bool isFolder) {
    QMimeDatabase database;
    QMimeType type = isFolder ? database.mimeTypeForName(QStringLiteral("inode/directory"))
                              : database.mimeTypeForFile(QFile::decodeName(QByteArray::fromStdString(
                                                             PathUtil::name(path))),
                                                         QMimeDatabase::MatchExtension);
    QStringList names;
    for (const QString& name : {type.iconName(), type.genericIconName(),
                                isFolder ? QStringLiteral("folder") : QStringLiteral("text-x-generic")}) {
        if (!name.isEmpty() && !names.contains(name)) {
            names.append(name);
        }
    }
    return names;
}

QIcon iconForPath(const std::string& path, bool isFolder) {
    for (const QString& name : iconNamesForPath(path, isFolder)) {
        if (QIcon::hasThemeIcon(name)) {
            return QIcon::fromTheme(name);
        }
    }
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        return app->style()->standardIcon(isFolder ? QStyle::SP_DirIcon : QStyle::SP_FileIcon);
    }
    return QIcon();
}

}  // namespace keldwick
