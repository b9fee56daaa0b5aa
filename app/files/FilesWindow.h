#pragma once
// "Files on Your Drive": two tabs chosen in the toolbar, the moved items and everything on
// the drive. The chosen tab lives in the model, so closing and reopening the window keeps
// it; the tab's view is made anew each time its tab is chosen (its search, selection and
// folder start over). Ctrl+F goes to the search field.

#include <QMainWindow>
#include <QPointer>

#include "model/AppWindow.h"
#include "ui/WindowRegistry.h"

class QLineEdit;
class QMenu;
class QToolBar;
class QToolButton;

namespace keldwick {

class DriveContentsView;
class FilesHost;
class MovedFilesView;

class FilesWindow final : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int defaultWidth = 900;
    static constexpr int defaultHeight = 560;
    // The drive's segment shortens a longer title, so the tabs and the search field fit
    // the window's smallest width.
    static constexpr int maximumTabTextWidth = 320;

    explicit FilesWindow(FilesHost& host, QWidget* parent = nullptr);

    // The view of the tab shown, or null for the other tab.
    MovedFilesView* moved() const;
    DriveContentsView* everything() const;
    QToolButton* movedTab() const { return movedTab_; }
    QToolButton* everythingTab() const { return everythingTab_; }
    QLineEdit* searchField() const { return search_; }

    // No menu of bars to hide: the toolbar always shows.
    QMenu* createPopupMenu() override;

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void follow();
    void applySearch();
    void showTab(FilesTab tab);

    FilesHost& host_;
    QToolButton* movedTab_;
    QToolButton* everythingTab_;
    QLineEdit* search_;
    QToolBar* toolbar_;
    std::optional<FilesTab> shown_;
    bool following_ = false;
    QPointer<MovedFilesView> moved_;
    QPointer<DriveContentsView> everything_;
};

// The registry's entry for the window: its title, first size and a maker over `host`.
WindowRegistry::Entry filesWindowEntry(FilesHost& host);

}  // namespace keldwick
