#pragma once
// Icons for files and folders as the desktop shows them: the item's MIME type (by its
// name) and the icon theme, falling back to the type's generic icon and then to a plain
// folder or file icon.

#include <QIcon>
#include <QStringList>
#include <string>

namespace keldwick {

// The theme icon names tried for an item, best first: a folder is always a folder (the
// name's extension doesn't matter); a file's type comes from its name's extension.
QStringList iconNamesForPath(const std::string& path, bool isFolder);

// The first of those the theme has; without any, the style's own folder or file icon.
// Main thread only.
QIcon iconForPath(const std::string& path, bool isFolder);

}  // namespace keldwick
