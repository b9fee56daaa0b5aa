#pragma once
// What the files window asks of the program's model besides its state and clock: the
// drive of a record, and the operations its tabs start. The program hands an
// AppModelFilesHost; tests hand a recording stand-in. Main thread only, except
// `listFolder`, which runs on a worker.

#include <cstdint>
#include <string>
#include <vector>

#include "drives/DriveBrowser.h"
#include "foundation/OffloadRecord.h"
#include "model/AppWindow.h"
#include "model/ModelState.h"
#include "ui/WindowHost.h"

namespace keldwick {

class FilesHost : public WindowHost {
    Q_OBJECT

public:
    using WindowHost::WindowHost;
    ~FilesHost() override = default;

    virtual DriveStatus driveStatus(const OffloadRecord& record) const = 0;
    // Whether anything stands at `path` now (a link counts).
    virtual bool exists(const std::string& path) const = 0;

    virtual void refresh() = 0;
    virtual void clearFilesProblem() = 0;
    virtual void setFilesTab(FilesTab tab) = 0;

    virtual void restoreRecords(const std::vector<int64_t>& ids) = 0;
    virtual void restoreCopy(int64_t id) = 0;
    virtual void keepOnComputer(const std::vector<OffloadRecord>& records) = 0;
    virtual void restoreAll() = 0;
    virtual void deleteDriveCopy(const OffloadRecord& record) = 0;
    virtual void moveToDrive(const std::vector<std::string>& paths) = 0;
    virtual void chooseFilesToMove() = 0;
    virtual void openPreview() = 0;
    // Stops the running operation, when there is one.
    virtual void cancel() = 0;

    // Opens the item with its default application.
    virtual void open(const std::string& path) = 0;
    // Shows the items in the file manager, all in one window.
    virtual void showItems(const std::vector<std::string>& paths) = 0;

    // The folder's entries; throws what the listing throws. Called on a worker thread.
    virtual std::vector<DriveItem> listFolder(const std::string& folder) const = 0;
    // The program's own folder on the drive mounted at `root`.
    virtual std::string appFolder(const std::string& root) const = 0;
};

}  // namespace keldwick
