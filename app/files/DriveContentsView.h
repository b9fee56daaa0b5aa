#pragma once
// The "Everything on <drive>" tab: a read-only browser of the chosen drive, one folder at
// a time, with crumbs, Back, a search within the folder, Open and Show in Folder, and rows
// that drag out as file URLs. Folders are listed on a worker thread; only the newest
// listing's result is shown, so a slow listing of a folder left behind never replaces the
// folder shown now.

#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "drives/DriveBrowser.h"
#include "model/MainThreadRelay.h"

class QHBoxLayout;
class QLabel;
class QProgressBar;
class QTableView;
class QToolButton;

namespace keldwick {

class DriveTable;
class EmptyStateView;
class FilesHost;

class DriveContentsView final : public QWidget {
    Q_OBJECT

public:
    explicit DriveContentsView(FilesHost& host, QWidget* parent = nullptr);

    // None: the drive's top level.
    const std::optional<std::string>& folder() const { return folder_; }
    void setFolder(std::optional<std::string> folder);
    void setSearch(const QString& search);
    const std::string& search() const { return search_; }
    const std::vector<DriveItem>& items() const { return items_; }
    bool isLoading() const { return isLoading_; }
    const std::optional<std::string>& failure() const { return failure_; }

    // Open and Show in Folder on the items with these paths (in list order).
    void open(const std::set<std::string>& paths);
    void reveal(const std::set<std::string>& paths);
    void back();

    QTableView* table() const { return table_; }
    DriveTable* model() const { return model_; }
    QLabel* countLabel() const { return count_; }
    QLabel* note() const { return note_; }
    EmptyStateView* overlay() const { return overlay_; }
    // While a folder loads with nothing listed yet: an indeterminate bar without a label.
    QProgressBar* loadingIndicator() const { return loading_; }
    QToolButton* backButton() const { return back_; }
    // The crumb buttons, top level first.
    std::vector<QToolButton*> crumbButtons() const;

signals:
    // A listing's result (or failure) was applied.
    void listed();

protected:
    void resizeEvent(QResizeEvent* event) override;
    // Return or Enter on the table opens its current row, as a double-click does.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* createBrowser();
    QWidget* createCrumbs();
    QWidget* createNote();
    QTableView* createTable();
    QHBoxLayout* createFooter();
    std::string shownFolder() const;
    void driveRootChanged();
    void load();
    void apply(uint64_t generation, std::vector<DriveItem> items, std::optional<std::string> failure);
    void render();
    void renderCrumbs();
    void placeLoadingIndicator();
    std::vector<DriveItem> itemsWithPaths(const std::set<std::string>& paths) const;

    FilesHost& host_;
    std::optional<std::string> root_;
    std::optional<std::string> folder_;
    std::vector<DriveItem> items_;
    bool isLoading_ = false;
    std::optional<std::string> failure_;
    std::string search_;
    uint64_t generation_ = 0;
    std::string shownDriveName_;
    OwnedRelay relay_;

    QWidget* unplugged_;
    QWidget* browser_;
    QHBoxLayout* crumbBar_;
    QToolButton* back_;
    QWidget* noteBox_;
    QLabel* note_;
    QTableView* table_;
    DriveTable* model_;
    EmptyStateView* overlay_ = nullptr;
    QProgressBar* loading_;
    QLabel* count_;
    EmptyStateView* unpluggedView_ = nullptr;
};

}  // namespace keldwick
