#pragma once
// The files window's tests and pictures run over this stand-in for the model.

#include "model/BackgroundExecutor.h"
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "drives/DriveBrowser.h"
#include "drives/DriveLayout.h"
#include "files/FilesHost.h"
#include "support/FakeWindowHost.h"

namespace keldwick::test {

// A model stand-in that records what the window asks of it.
class FakeFilesHost final : public FakeWindowHost<FilesHost> {
public:
    std::vector<std::string> calls;
    std::vector<std::vector<int64_t>> restored;
    std::vector<std::vector<std::string>> moved, shown;
    std::vector<std::string> opened;
    std::set<std::string> present;
    std::function<std::vector<DriveItem>(const std::string&)> lister = DriveBrowser::items;
    int refreshes = 0;

    FakeFilesHost() {
        model.home = "/home/u";
        model.settings.drive = Drive{"ID", "Vault"};
        model.driveRoot = "/media/u/Vault";
    }
    ~FakeFilesHost() override { ThreadPoolExecutor::shared()->finishWithin(std::chrono::seconds(30)); }

    DriveStatus driveStatus(const OffloadRecord&) const override {
        return {model.settings.drive ? model.settings.drive->name : "Vault", model.driveRoot.has_value()};
    }
    bool exists(const std::string& path) const override { return present.count(path) > 0; }
    void refresh() override { ++refreshes; }
    // Announces the change as the model does.
    void clearFilesProblem() override {
        calls.push_back("clearFilesProblem");
        if (!model.filesProblem) return;
        model.filesProblem.reset();
        changed();
    }
    void setFilesTab(FilesTab tab) override {
        model.filesTab = tab;
        changed();
    }
    void restoreRecords(const std::vector<int64_t>& ids) override { restored.push_back(ids); }
    void restoreCopy(int64_t id) override { calls.push_back("restoreCopy " + std::to_string(id)); }
    void keepOnComputer(const std::vector<OffloadRecord>& records) override {
        calls.push_back("keepOnComputer " + std::to_string(records.size()));
    }
    void restoreAll() override { calls.push_back("restoreAll"); }
    void deleteDriveCopy(const OffloadRecord& record) override {
        calls.push_back("deleteDriveCopy " + std::to_string(record.id));
    }
    void moveToDrive(const std::vector<std::string>& paths) override { moved.push_back(paths); }
    void chooseFilesToMove() override { calls.push_back("chooseFilesToMove"); }
    void openPreview() override { calls.push_back("openPreview"); }
    void cancel() override { calls.push_back("cancel"); }
    void open(const std::string& path) override { opened.push_back(path); }
    void showItems(const std::vector<std::string>& paths) override { shown.push_back(paths); }
    std::vector<DriveItem> listFolder(const std::string& folder) const override { return lister(folder); }
    std::string appFolder(const std::string& root) const override { return DriveLayout::appFolder(root); }
};

}  // namespace keldwick::test
