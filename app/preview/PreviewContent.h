#pragma once
// The preview itself: heading, test-mode banner, the body (scanning, an empty state or the
// table with the skipped items), and the footer with the shortfall line, the approval
// switch and the buttons. It lays out previewScreen() and redraws, coalesced, whenever the
// model or the preview changes.

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "model/PreviewModel.h"
#include "preview/PreviewScreen.h"
#include "ui/KeyboardReach.h"

class QCheckBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QStackedWidget;
class QTableView;
class QToolButton;
class QTreeWidget;
class QVBoxLayout;

namespace keldwick {

class EmptyStateView;
class PreviewHost;
class PreviewSelection;
class PreviewTable;

class PreviewContent final : public QWidget {
    Q_OBJECT

public:
    // `close` closes the window.
    PreviewContent(PreviewHost& host, PreviewModel& preview, std::function<void()> close, QWidget* parent = nullptr);

    PreviewModel* preview() const { return preview_; }
    const PreviewScreen& screen() const { return screen_; }
    PreviewTable* table() const { return table_; }
    QTableView* tableView() const { return view_; }
    EmptyStateView* emptyState() const { return empty_; }
    QLabel* titleLabel() const { return title_; }
    QLabel* subtitleLabel() const { return subtitle_; }
    QLabel* shortfallLabel() const { return shortfall_; }
    QWidget* testBanner() const { return banner_; }
    QCheckBox* approvalSwitch() const { return askEveryTime_; }
    QPushButton* closeButton() const { return closeButton_; }
    QPushButton* notNowButton() const { return notNow_; }
    QPushButton* runButton() const { return run_; }
    QToolButton* skippedToggle() const { return skippedToggle_; }
    QTreeWidget* skippedList() const { return skippedList_; }
    // The selected rows' paths.
    const std::set<std::string>& selection() const;

    // Applies the model's state now rather than after the pending redraw.
    void render();

    // The rows a context menu at `row` works on: the selection when the row is in it,
    // else that row alone; nothing for no row (-1).
    std::vector<std::string> menuPaths(int row) const;
    // "Always Keep on This Computer": pins the items, then takes those still planned out of
    // the plan, so they show as excluded rows. The preview is not scanned again.
    void keepOnThisComputer(const std::vector<std::string>& paths);
    // The run button: the model approves and starts the run first, then the window closes.
    void approve();

private:
    QWidget* createHeader();
    QWidget* createBanner();
    QWidget* createScanningPage();
    QWidget* createTablePage();
    QHBoxLayout* createFooter();
    void followChanges(PreviewModel& preview);
    void scheduleRender();
    void renderBody();
    void fillSkipped();
    void runAction(PreviewAction action);
    void showMenu(const RowMenuRequest& request);

    PreviewHost& host_;
    QPointer<PreviewModel> preview_;
    std::function<void()> close_;
    PreviewScreen screen_;
    bool rowsStale_ = true;
    bool closeOnlyShown_ = false;
    QTimer renderTimer_;

    QLabel* title_;
    QLabel* subtitle_;
    QWidget* banner_;
    QStackedWidget* body_;
    QWidget* scanningPage_;
    QLabel* scanningText_;
    QWidget* emptyPage_;
    QVBoxLayout* emptyLayout_;
    EmptyStateView* empty_ = nullptr;
    std::optional<PreviewEmptyState> shownEmpty_;
    QWidget* tablePage_;
    QTableView* view_;
    PreviewTable* table_;
    PreviewSelection* selection_;
    QToolButton* skippedToggle_;
    QTreeWidget* skippedList_;
    QLabel* shortfall_;
    QCheckBox* askEveryTime_;
    QPushButton* closeButton_;
    QPushButton* notNow_;
    QPushButton* run_;
};

}  // namespace keldwick
