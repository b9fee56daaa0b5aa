#pragma once
// The settings window: the tabs General, Folders, Drive and Advanced over the program's
// model. It opens on the tab it showed last (the model remembers it), is 600 wide and as
// tall as the tab shown (the tab scrolls on a screen too small for it), and tells at the
// top when the settings can't be saved.

#include <QWidget>
#include <vector>

#include "model/AppWindow.h"
#include "ui/WindowRegistry.h"

class QLabel;
class QScrollArea;
class QTabBar;

namespace keldwick {

class AdvancedTab;
class DriveTab;
class FoldersTab;
class GeneralTab;
class SettingsHost;

class SettingsWindow final : public QWidget {
    Q_OBJECT

public:
    static constexpr int fixedWidth = 600;

    explicit SettingsWindow(SettingsHost& host, QWidget* parent = nullptr);

    QTabBar* tabs() const { return tabs_; }
    GeneralTab* general() const { return general_; }
    FoldersTab* folders() const { return folders_; }
    DriveTab* drive() const { return drive_; }
    AdvancedTab* advanced() const { return advanced_; }
    QLabel* problemLabel() const { return problem_; }
    QScrollArea* scrollArea() const { return scroll_; }

    // As tall as the problem, the tabs and the whole of the tab shown.
    QSize sizeHint() const override;

private:
    void createTabs();
    void render();
    void fitTab();

    SettingsHost& host_;
    QLabel* problem_;
    QTabBar* tabs_;
    QScrollArea* scroll_;
    QWidget* pageBox_;
    std::vector<QWidget*> pages_;  // in the order of SettingsTab
    GeneralTab* general_;
    FoldersTab* folders_;
    DriveTab* drive_;
    AdvancedTab* advanced_;
};

// The registry's entry for the window: its title and a maker over `host`.
WindowRegistry::Entry settingsWindowEntry(SettingsHost& host);

}  // namespace keldwick
