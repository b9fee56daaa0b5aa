#include "settings/SettingsWindow.h"

#include <QLabel>
#include <QSignalBlocker>
#include <QTabBar>
#include <QVBoxLayout>

#include "settings/AdvancedTab.h"
#include "settings/DriveTab.h"
#include "settings/FoldersTab.h"
#include "settings/GeneralTab.h"
#include "settings/SettingsForm.h"
#include "settings/SettingsHost.h"
#include "settings/SettingsScreens.h"
#include "ui/Symbols.h"

namespace keldwick {

SettingsWindow::SettingsWindow(SettingsHost& host, QWidget* parent)
    : QWidget(parent, Qt::Window), host_(host) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Settings"));
    setFixedWidth(fixedWidth);

    auto* layout = new QVBoxLayout(this);
    problem_ = warningLabel(QString(), this);
    problem_->hide();
    layout->addWidget(problem_);
    // A tab bar over pages of which only the current one is shown, rather than a tab widget
    // or a stack: those are as tall as their tallest page, and the window follows the page
    // shown.
    tabs_ = new QTabBar(this);
    tabs_->setExpanding(false);
    general_ = new GeneralTab(host_, this);
    folders_ = new FoldersTab(host_, this);
    drive_ = new DriveTab(host_, this);
    advanced_ = new AdvancedTab(host_, this);
    // In the order of SettingsTab.
    const struct {
        QWidget* page;
        const char* symbol;
        QString title;
    } tabs[] = {{general_, "gearshape", QStringLiteral("General")},
                {folders_, "folder", QStringLiteral("Folders")},
                {drive_, "externaldrive", QStringLiteral("Drive")},
                {advanced_, "slider.horizontal.3", QStringLiteral("Advanced")}};
    for (const auto& tab : tabs) {
        tabs_->addTab(Symbols::icon(tab.symbol), tab.title);
        pages_.push_back(tab.page);
    }
    layout->addWidget(tabs_, 0, Qt::AlignHCenter);
    for (QWidget* page : pages_) layout->addWidget(page);

    render();
    connect(tabs_, &QTabBar::currentChanged, this, [this](int index) {
        host_.setSettingsTab(static_cast<SettingsTab>(index));
        fitTab();
    });
    connect(&host_, &SettingsHost::stateChanged, this, &SettingsWindow::render);
    fitTab();
}

void SettingsWindow::render() {
    const auto problem = host_.settingsProblem();
    problem_->setText(problem ? QString::fromStdString(settingsProblemText(*problem)) : QString());
    problem_->setVisible(problem.has_value());
    const int index = static_cast<int>(host_.state().settingsTab);
    if (tabs_->currentIndex() != index) {
        const QSignalBlocker block(tabs_);
        tabs_->setCurrentIndex(index);
        fitTab();
    }
}

void SettingsWindow::fitTab() {
    for (size_t i = 0; i < pages_.size(); ++i) pages_[i]->setVisible(static_cast<int>(i) == tabs_->currentIndex());
    layout()->activate();
    adjustSize();
}

WindowRegistry::Entry settingsWindowEntry(SettingsHost& host) {
    return {QStringLiteral("Settings"), QSize(), [&host] { return new SettingsWindow(host); }};
}

}  // namespace keldwick
