#pragma once
// The files window's host in the running program: the model's own operations, the
// desktop's file manager, and the drive's folders listed as they are.

#include "files/FilesHost.h"
#include "ui/AppModelWindowHost.h"
#include "ui/FileManager.h"

namespace keldwick {

class AppModelFilesHost final : public AppModelWindowHost<FilesHost> {
    Q_OBJECT

public:
    // `model` outlives the host.
    explicit AppModelFilesHost(AppModel& model, QObject* parent = nullptr);

    DriveStatus driveStatus(const OffloadRecord& record) const override;
    bool exists(const std::string& path) const override;
    void refresh() override;
    void clearFilesProblem() override;
    void setFilesTab(FilesTab tab) override;
    void restoreRecords(const std::vector<int64_t>& ids) override;
    void restoreCopy(int64_t id) override;
    void keepOnComputer(const std::vector<OffloadRecord>& records) override;
    void restoreAll() override;
    void deleteDriveCopy(const OffloadRecord& record) override;
    void moveToDrive(const std::vector<std::string>& paths) override;
    void chooseFilesToMove() override;
    void openPreview() override;
    void cancel() override;
    void open(const std::string& path) override;
    void showItems(const std::vector<std::string>& paths) override;
    std::vector<DriveItem> listFolder(const std::string& folder) const override;
    std::string appFolder(const std::string& root) const override;

private:
    FileManager files_;
};

}  // namespace keldwick
