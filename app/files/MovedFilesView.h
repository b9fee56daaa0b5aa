#pragma once
// The "Moved from This Computer" tab: the moved records with their status, searchable, with a
// selection kept as a set of record ids across refreshes (an id whose record leaves stays
// selected but matches nothing), the drive banner, the problem bar of one selected record,
// the bottom bar, the empty states, the row menu and confirmations, and files dropped on
// the list moved to the drive. Everything it shows is computed from the host's state.

#include <QPointer>
#include <QWidget>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "files/MovedRows.h"
#include "files/MovedTable.h"
#include "ui/ElidedLabel.h"

class QHBoxLayout;
class QLabel;
class QMenu;
class QMessageBox;
class QMimeData;
class QProgressBar;
class QPushButton;
class QTableView;

namespace keldwick {

class DropOverlay;
class EmptyStateView;
class FilesHost;

// The local files a drop carries, in order; none when it carries none (the drop is refused).
std::optional<std::vector<std::string>> droppedPaths(const QMimeData& data);

class MovedFilesView final : public QWidget {
    Q_OBJECT

public:
    explicit MovedFilesView(FilesHost& host, QWidget* parent = nullptr);

    void setSearch(const QString& search);
    const std::set<int64_t>& selection() const { return selection_; }
    void setSelection(std::set<int64_t> ids);

    // The row menu for the records with `ids`, with its actions wired.
    QMenu* menuFor(const std::set<int64_t>& ids, QWidget* parent);
    // Opens the chosen records (the table's double-click and Return).
    void openRecords(const std::set<int64_t>& ids);
    // Runs an entry's action on the records with `ids`; asks first where the action does.
    void run(MovedAction action, const std::set<int64_t>& ids);

    QTableView* table() const { return table_; }
    MovedTable* model() const { return model_; }
    // The drive-away banner (its box shows and hides) and its text.
    QWidget* bannerBox() const { return bannerBox_; }
    QLabel* banner() const { return banner_; }
    DropOverlay* dropOverlay() const { return dropOverlay_; }
    QWidget* problemBar() const { return problemBar_; }
    QLabel* statusLabel() const { return status_; }
    // The footer's problem, wrapped so it shows whole; hidden while there is none.
    QLabel* problemLabel() const { return problem_; }
    QPushButton* selectionButton() const { return selectionButton_; }
    EmptyStateView* emptyState() const { return empty_; }
    // The confirmation shown now, or null.
    QMessageBox* confirmation() const;
    // Reads the host again now rather than at the next turn of the event loop.
    void update();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QTableView* createTable();
    QWidget* createProblemBar();
    QHBoxLayout* createBottomBar();
    void scheduleUpdate();
    void selectionEdited();
    void confirmRestoreAll();
    void confirmDelete(const OffloadRecord& record);
    void placeOverlays();

    FilesHost& host_;
    std::string search_;
    std::set<int64_t> selection_;
    bool updatePending_ = false;
    bool applyingSelection_ = false;
    bool refreshed_ = false;

    QWidget* bannerBox_;
    QLabel* bannerIcon_;
    QLabel* banner_;
    QTableView* table_;
    MovedTable* model_;
    EmptyStateView* empty_ = nullptr;
    std::optional<MovedEmptyState> shownEmpty_;
    DropOverlay* dropOverlay_;
    QWidget* problemBar_;
    QLabel* problemIcon_;
    QLabel* problemText_;
    QPushButton* problemFirst_;
    QPushButton* problemDelete_;
    ElidedLabel* status_;
    QLabel* problem_;
    QProgressBar* progress_;
    QPushButton* stop_;
    QPushButton* moveFiles_;
    QPushButton* selectionButton_;
    QPushButton* restoreAll_;
    QPointer<QMessageBox> confirmation_;
};

}  // namespace keldwick
