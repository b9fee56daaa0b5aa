#pragma once
// The "System Data" window: the caches to tick and clear after a confirmation, and the
// large system data to move to the drive one item at a time. Each opening starts afresh
// and measures again; what the model answers after the window closed is dropped.

#include <QPointer>
#include <QWidget>
#include <functional>
#include <vector>

#include "systemdata/SystemDataScreen.h"
#include "ui/WindowRegistry.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

namespace keldwick {

class SystemDataHost;

class SystemDataWindow final : public QWidget {
    Q_OBJECT

public:
    static constexpr int defaultWidth = 600;
    static constexpr int defaultHeight = 520;

    // Asks before deleting; true to go ahead. Tests answer without a dialog.
    using Confirm = std::function<bool(QWidget* window, const QString& title)>;

    explicit SystemDataWindow(SystemDataHost& host, Confirm confirm = {}, QWidget* parent = nullptr);

    const SystemDataState& view() const { return view_; }
    QPushButton* clearButton() const { return clear_; }
    QLabel* footerLabel() const { return footer_; }
    QLabel* movableSubtitleLabel() const { return movableSubtitle_; }
    const std::vector<QCheckBox*>& cacheBoxes() const { return cacheBoxes_; }
    const std::vector<QPushButton*>& moveButtons() const { return moveButtons_; }

    // Redraws from the window's state and the model's.
    void render();
    // Asks, then clears the ticked caches.
    // Measures the caches again, then asks about the ticked ones with their fresh size.
    void clearChosen();
    void askAndClear();
    void move(const std::string& path);

private:
    QWidget* createSections();
    QWidget* createFooter();
    void load();
    void storeMovable(std::vector<MovableData> items);
    void rebuildCaches(const std::vector<CacheRow>& rows);
    void rebuildMovable(const std::vector<MovableRow>& rows);
    bool isAppFiles(const std::string& path) const;

    SystemDataHost& host_;
    Confirm confirm_;
    SystemDataState view_;
    std::optional<std::vector<MovableData>> pendingMovable_;  // found before the caches were stored

    QPushButton* clear_;
    QWidget* cachesLoading_;
    QLabel* noCaches_;
    QVBoxLayout* cacheRows_;
    std::vector<CacheRow> shownCaches_;
    std::vector<QCheckBox*> cacheBoxes_;
    QLabel* movableTitle_;
    QLabel* movableSubtitle_;
    QWidget* movableLoading_;
    QLabel* nothingToMove_;
    QVBoxLayout* movableRows_;
    std::vector<MovableRow> shownMovable_;
    std::vector<QPushButton*> moveButtons_;
    QProgressBar* spinner_;
    QLabel* footer_;
};

// The registry's entry for the window: its title, first size and a maker over `host`.
WindowRegistry::Entry systemDataWindowEntry(SystemDataHost& host);

}  // namespace keldwick
