#include "settings/SettingsWindow.h"

#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
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
    setWindowTitle(WindowRegistry::titleOf(std::nullopt));
    setFixedWidth(fixedWidth);

    auto* layout = new QVBoxLayout(this);
    problem_ = warningLabel(QString(), this);
    problem_->hide();
    layout->addWidget(problem_);
    createTabs();
    layout->addWidget(tabs_, 0, Qt::AlignHCenter);
    layout->addWidget(scroll_, 1);

    render();
    connect(tabs_, &QTabBar::currentChanged, this, [this](int index) {
        host_.setSettingsTab(static_cast<SettingsTab>(index));
        fitTab();
    });
    connect(&host_, &SettingsHost::stateChanged, this, &SettingsWindow::render);
    fitTab();
}

// The tab bar and the four pages below it, one shown at a time.
void SettingsWindow::createTabs() {
    // A tab bar over pages of which only the current one is shown, rather than a tab widget
    // or a stack: those are as tall as their tallest page, and the window follows the page
    // shown.
    tabs_ = new QTabBar(this);
    tabs_->setExpanding(false);
    // The pages scroll where the screen is lower than the page shown (a small screen at
    // 2×, a large font), rather than squeezing their texts.
    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setAccessibleName(QStringLiteral("Settings"));
    // The page scrolls to the control Tab reaches; the area itself is no stop.
    scroll_->setFocusPolicy(Qt::NoFocus);
    pageBox_ = new QWidget;
    auto* pageLayout = new QVBoxLayout(pageBox_);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    general_ = new GeneralTab(host_, pageBox_);
    folders_ = new FoldersTab(host_, pageBox_);
    drive_ = new DriveTab(host_, pageBox_);
    advanced_ = new AdvancedTab(host_, pageBox_);
    // In the order of SettingsTab.
    const struct {
        QWidget* page;
        const char* symbol;
        QString title;
    } tabs[] = {{general_, "settings", QStringLiteral("General")},
                {folders_, "folder", QStringLiteral("Folders")},
                {drive_, "drive", QStringLiteral("Drive")},
                {advanced_, "sliders", QStringLiteral("Advanced")}};
    for (const auto& tab : tabs) {
        tabs_->addTab(Symbols::icon(tab.symbol), tab.title);
        pages_.push_back(tab.page);
    }
    for (QWidget* page : pages_) pageLayout->addWidget(page);
    scroll_->setWidget(pageBox_);
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

QSize SettingsWindow::sizeHint() const {
    const QMargins margins = layout()->contentsMargins();
    const int inner = fixedWidth - margins.left() - margins.right();
    QLayout* pages = pageBox_->layout();
    const int pageHeight = pages->hasHeightForWidth() ? pages->totalHeightForWidth(inner) : pages->totalSizeHint().height();
    int height = margins.top() + margins.bottom() + tabs_->sizeHint().height() + layout()->spacing() + pageHeight;
    if (!problem_->isHidden()) height += problem_->heightForWidth(inner) + layout()->spacing();
    return {fixedWidth, height};
}

void SettingsWindow::fitTab() {
    for (size_t i = 0; i < pages_.size(); ++i) pages_[i]->setVisible(static_cast<int>(i) == tabs_->currentIndex());
    pageBox_->layout()->activate();
    int height = sizeHint().height();
    // No taller than the screen's free area, a title bar's height kept for the frame.
    if (const QScreen* shownOn = screen()) {
        const int frame = style()->pixelMetric(QStyle::PM_TitleBarHeight) + 8;
        height = std::min(height, shownOn->availableGeometry().height() - frame);
    }
    resize(fixedWidth, height);
}

WindowRegistry::Entry settingsWindowEntry(SettingsHost& host) {
    return {WindowRegistry::titleOf(std::nullopt), QSize(), [&host] { return new SettingsWindow(host); }};
}

}  // namespace keldwick
