#include "files/AppModelFilesHost.h"

#include "drives/DriveLayout.h"
#include "foundation/FileStat.h"
#include "model/AppModel.h"

namespace keldwick {

AppModelFilesHost::AppModelFilesHost(AppModel& model, QObject* parent) : AppModelWindowHost(model, {}, parent) {}

DriveStatus AppModelFilesHost::driveStatus(const OffloadRecord& record) const {
    return model_.drives().driveStatus(record);
}

bool AppModelFilesHost::exists(const std::string& path) const {
    // A failure to look counts as nothing there.
    try {
        return FileStat::read(path).has_value();
    } catch (const std::exception&) {
        return false;
    }
}

void AppModelFilesHost::refresh() { model_.refresh(); }

void AppModelFilesHost::clearFilesProblem() { model_.clearFilesProblem(); }

void AppModelFilesHost::setFilesTab(FilesTab tab) { model_.setFilesTab(tab); }

void AppModelFilesHost::restoreRecords(const std::vector<int64_t>& ids) { model_.operations().restoreRecord(ids); }

void AppModelFilesHost::restoreCopy(int64_t id) { model_.operations().restoreCopy(id); }

void AppModelFilesHost::keepOnComputer(const std::vector<OffloadRecord>& records) { model_.operations().keepOnComputer(records); }

void AppModelFilesHost::restoreAll() { model_.operations().restoreAll(); }

void AppModelFilesHost::deleteDriveCopy(const OffloadRecord& record) { model_.operations().deleteDriveCopy({record.id}); }

void AppModelFilesHost::moveToDrive(const std::vector<std::string>& paths) { model_.moveToDrive(paths); }

void AppModelFilesHost::chooseFilesToMove() { model_.chooseFilesToMove(); }

void AppModelFilesHost::openPreview() { model_.openPreview(PreviewKind::manual, std::nullopt, std::nullopt, true); }

void AppModelFilesHost::cancel() {
    if (auto* job = model_.operations().currentJob()) job->cancel();
}

void AppModelFilesHost::open(const std::string& path) { files_.open(path); }

void AppModelFilesHost::showItems(const std::vector<std::string>& paths) { files_.showItems(paths); }

std::vector<DriveItem> AppModelFilesHost::listFolder(const std::string& folder) const {
    return DriveBrowser::items(folder);
}

std::string AppModelFilesHost::appFolder(const std::string& root) const { return DriveLayout::appFolder(root); }

}  // namespace keldwick
