#include "files/HookedFilesHost.h"

#include <QtGlobal>

#include "drives/DriveLayout.h"
#include "foundation/FileStat.h"

namespace keldwick {

HookedFilesHost::HookedFilesHost(FilesHooks hooks, QObject* parent) : FilesHost(parent), hooks_(std::move(hooks)) {}

Date HookedFilesHost::now() const { return Date::now(); }

bool HookedFilesHost::exists(const std::string& path) const {
    // A failure to look counts as nothing there.
    try {
        return FileStat::read(path).has_value();
    } catch (const std::exception&) {
        return false;
    }
}

std::string HookedFilesHost::appFolder(const std::string& root) const { return DriveLayout::appFolder(root); }

void HookedFilesHost::missing(const char* what) { qWarning("keldwick: %s is not built yet", what); }

}  // namespace keldwick
