#include "files/FilesWindow.h"

#include <QButtonGroup>
#include <QHideEvent>
#include <QLineEdit>
#include <QShortcut>
#include <QToolBar>
#include <QToolButton>

#include "files/DriveContentsView.h"
#include "files/FilesHost.h"
#include "files/MovedFilesView.h"
#include "ui/Accessibility.h"
#include "ui/PlainText.h"
#include "model/StatusTexts.h"

namespace keldwick {

FilesWindow::FilesWindow(FilesHost& host, QWidget* parent) : QMainWindow(parent), host_(host) {
    setWindowTitle(WindowRegistry::titleOf(AppWindow::offloaded));
    setMinimumSize(820, 460);
    resize(defaultWidth, defaultHeight);

    auto* toolbar = addToolBar(QStringLiteral("Show"));
    toolbar_ = toolbar;
    // The tabs and the search are the window's own controls: nothing offers to hide them
    // (createPopupMenu has no entry for them) and nothing moves them.
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->toggleViewAction()->setVisible(false);
    toolbar->setContextMenuPolicy(Qt::PreventContextMenu);
    auto* left = new QWidget(toolbar);
    left->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(left);
    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    movedTab_ = new QToolButton(toolbar);
    movedTab_->setText(QStringLiteral("Moved from This Computer"));
    everythingTab_ = new QToolButton(toolbar);
    for (QToolButton* button : {movedTab_, everythingTab_}) {
        button->setCheckable(true);
        button->setAccessibleDescription(QStringLiteral("Show"));
        group->addButton(button);
        toolbar->addWidget(button);
    }
    auto* right = new QWidget(toolbar);
    right->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(right);
    search_ = new QLineEdit(toolbar);
    search_->setClearButtonEnabled(true);
    nameClearButton(search_, QStringLiteral("Clear Search"));
    search_->setFixedWidth(220);
    search_->setAccessibleName(QStringLiteral("Search"));
    toolbar->addWidget(search_);
    auto* find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        search_->setFocus(Qt::ShortcutFocusReason);
        search_->selectAll();
    });

    // Checking a segment switches the view, whether by a click, the arrow keys or a screen
    // reader's Toggle action (which checks it without a click).
    connect(movedTab_, &QToolButton::toggled, this, [this](bool on) {
        if (on && !following_) host_.setFilesTab(FilesTab::moved);
    });
    connect(everythingTab_, &QToolButton::toggled, this, [this](bool on) {
        if (on && !following_) host_.setFilesTab(FilesTab::everything);
    });
    connect(search_, &QLineEdit::textChanged, this, &FilesWindow::applySearch);
    // Should the bar ever be hidden all the same, its filter goes with it.
    connect(toolbar, &QToolBar::visibilityChanged, this, &FilesWindow::applySearch);
    connect(&host_, &FilesHost::stateChanged, this, &FilesWindow::follow);
    follow();
}

QMenu* FilesWindow::createPopupMenu() { return nullptr; }

// The filter in force is the one the user can see: none while the field is hidden.
void FilesWindow::applySearch() {
    const QString text = toolbar_->isHidden() ? QString() : search_->text();
    if (moved_) moved_->setSearch(text);
    if (everything_) everything_->setSearch(text);
}

MovedFilesView* FilesWindow::moved() const { return moved_; }
DriveContentsView* FilesWindow::everything() const { return everything_; }

void FilesWindow::follow() {
    // A long drive name is shortened on the segment and read whole in its tooltip.
    const QString everything =
        QStringLiteral("Everything on ") + QString::fromStdString(driveDisplayName(host_.state()));
    const QString shown = everythingTab_->fontMetrics().elidedText(everything, Qt::ElideRight, maximumTabTextWidth);
    everythingTab_->setText(shown);
    everythingTab_->setAccessibleName(everything);
    setPlainToolTip(everythingTab_, shown != everything ? everything : QString());
    const FilesTab tab = host_.state().filesTab;
    following_ = true;
    movedTab_->setChecked(tab == FilesTab::moved);
    everythingTab_->setChecked(tab == FilesTab::everything);
    following_ = false;
    if (shown_ != tab) showTab(tab);
}

// The moved files' problem goes with their view: when the window closes or the other tab
// is chosen. The window's own hide handler never runs inside its destructor, so the
// model's answer can't reach a window half torn down.
void FilesWindow::hideEvent(QHideEvent* event) {
    QMainWindow::hideEvent(event);
    if (!event->spontaneous() && moved_) host_.clearFilesProblem();
}

void FilesWindow::showTab(FilesTab tab) {
    const bool leavingMoved = moved_ != nullptr;
    shown_ = tab;
    // The tab left behind goes with its state.
    delete takeCentralWidget();
    {
        const QSignalBlocker quiet(search_);
        search_->clear();
    }
    if (tab == FilesTab::moved) {
        search_->setPlaceholderText(QStringLiteral("Search moved files"));
        moved_ = new MovedFilesView(host_, this);
        setCentralWidget(moved_);
    } else {
        search_->setPlaceholderText(QStringLiteral("Search this folder"));
        everything_ = new DriveContentsView(host_, this);
        setCentralWidget(everything_);
    }
    if (leavingMoved) host_.clearFilesProblem();
}

WindowRegistry::Entry filesWindowEntry(FilesHost& host) {
    return {WindowRegistry::titleOf(AppWindow::offloaded), QSize(FilesWindow::defaultWidth, FilesWindow::defaultHeight),
            [&host] { return new FilesWindow(host); }};
}

}  // namespace keldwick
