#pragma once
// The files window's host made of the program's functions: each operation is a hook the
// program fills in with the model's own. A hook left empty reports, in the log, that the
// operation is not available, and does nothing else.

#include <functional>

#include "files/FilesHost.h"
#include "ui/FileManager.h"

namespace keldwick {

struct FilesHooks {
    std::function<const ModelState&()> state;
    std::function<DriveStatus(const OffloadRecord&)> driveStatus;
    std::function<void()> refresh;
    std::function<void()> clearFilesProblem;
    std::function<void(FilesTab)> setFilesTab;
    std::function<void(const std::vector<int64_t>&)> restoreRecords;
    std::function<void(int64_t)> restoreCopy;
    std::function<void(const std::vector<OffloadRecord>&)> keepOnMac;
    std::function<void()> restoreAll;
    std::function<void(const OffloadRecord&)> deleteDriveCopy;
    std::function<void(const std::vector<std::string>&)> moveToDrive;
    std::function<void()> chooseFilesToMove;
    std::function<void()> openPreview;
    std::function<void()> cancel;
};

class HookedFilesHost final : public FilesHost {
    Q_OBJECT

public:
    explicit HookedFilesHost(FilesHooks hooks, QObject* parent = nullptr);

    const ModelState& state() const override { return hooks_.state(); }
    DriveStatus driveStatus(const OffloadRecord& record) const override { return hooks_.driveStatus(record); }
    Date now() const override;
    bool exists(const std::string& path) const override;
    void refresh() override { call("refresh", hooks_.refresh); }
    void clearFilesProblem() override { call("clearing the problem", hooks_.clearFilesProblem); }
    void setFilesTab(FilesTab tab) override { call("choosing the tab", hooks_.setFilesTab, tab); }
    void restoreRecords(const std::vector<int64_t>& ids) override { call("bringing back", hooks_.restoreRecords, ids); }
    void restoreCopy(int64_t id) override { call("bringing back a copy", hooks_.restoreCopy, id); }
    void keepOnMac(const std::vector<OffloadRecord>& records) override {
        call("keeping on this computer", hooks_.keepOnMac, records);
    }
    void restoreAll() override { call("bringing everything back", hooks_.restoreAll); }
    void deleteDriveCopy(const OffloadRecord& record) override {
        call("deleting a drive copy", hooks_.deleteDriveCopy, record);
    }
    void moveToDrive(const std::vector<std::string>& paths) override { call("moving dropped files", hooks_.moveToDrive, paths); }
    void chooseFilesToMove() override { call("moving chosen files", hooks_.chooseFilesToMove); }
    void openPreview() override { call("the preview", hooks_.openPreview); }
    void cancel() override { call("stopping", hooks_.cancel); }
    void open(const std::string& path) override { files_.open(path); }
    void showItems(const std::vector<std::string>& paths) override { files_.showItems(paths); }
    std::vector<DriveItem> listFolder(const std::string& folder) const override { return DriveBrowser::items(folder); }
    std::string appFolder(const std::string& root) const override;

public slots:
    // The model changed.
    void modelChanged() { emit stateChanged(); }

private:
    template <class F, class... Args>
    void call(const char* what, const F& hook, Args&&... args) {
        if (hook) hook(std::forward<Args>(args)...);
        else missing(what);
    }
    static void missing(const char* what);

    FilesHooks hooks_;
    FileManager files_;
};

}  // namespace keldwick
