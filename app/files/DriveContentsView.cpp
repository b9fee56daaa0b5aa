#include "files/DriveContentsView.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QTableView>
#include <QThreadPool>
#include <QToolButton>
#include <QVBoxLayout>
#include <exception>

#include "files/DriveBrowsing.h"
#include "files/DriveTable.h"
#include "files/FilesHost.h"
#include "model/StatusTexts.h"
#include "ui/Divider.h"
#include "ui/EmptyStateView.h"
#include "ui/KeyboardReach.h"
#include "ui/PlainText.h"
#include "ui/RelativeDate.h"
#include "ui/StepStyle.h"
#include "ui/Symbols.h"
#include "ui/TableFit.h"
#include "ui/TabularDigits.h"

namespace keldwick {
DriveContentsView::DriveContentsView(FilesHost& host, QWidget* parent)
    : QWidget(parent), host_(host), relay_(this) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    unplugged_ = new QWidget(this);
    auto* unpluggedLayout = new QVBoxLayout(unplugged_);
    unpluggedLayout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(unplugged_, 1);
    layout->addWidget(createBrowser(), 1);

    connect(&host_, &FilesHost::stateChanged, this, [this] {
        if (host_.state().driveRoot != root_) driveRootChanged();
        else render();
    });
    root_ = host_.state().driveRoot;
    load();
}

// The folder's path, the note, its entries and their count.
QWidget* DriveContentsView::createBrowser() {
    browser_ = new QWidget(this);
    auto* column = new QVBoxLayout(browser_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(createCrumbs());
    column->addWidget(divider(browser_));
    column->addWidget(createNote());
    column->addWidget(createTable(), 1);
    column->addWidget(divider(browser_));
    column->addLayout(createFooter());
    return browser_;
}

// Back, then the folders from the drive down to the one shown.
QWidget* DriveContentsView::createCrumbs() {
    auto* crumbs = new QWidget(browser_);
    crumbBar_ = new QHBoxLayout(crumbs);
    crumbBar_->setContentsMargins(12, 8, 12, 8);
    crumbBar_->setSpacing(6);
    back_ = new QToolButton(crumbs);
    back_->setIcon(Symbols::icon("chevron-left"));
    back_->setAutoRaise(true);
    back_->setToolTip(QStringLiteral("Back"));
    back_->setAccessibleName(QStringLiteral("Back"));
    connect(back_, &QToolButton::clicked, this, &DriveContentsView::back);
    return crumbs;
}

QWidget* DriveContentsView::createNote() {
    noteBox_ = new QWidget(browser_);
    auto* noteLayout = new QVBoxLayout(noteBox_);
    noteLayout->setContentsMargins(0, 0, 0, 0);
    noteLayout->setSpacing(0);
    auto* noteRow = new QHBoxLayout;
    noteRow->setContentsMargins(12, 8, 12, 8);
    auto* noteIcon = new QLabel(noteBox_);
    noteIcon->setPixmap(Symbols::icon("info").pixmap(16, 16));
    note_ = secondaryLabel(
        QStringLiteral("These are files Keldwick moved. To bring this computer's back, use Moved from This Computer."), noteBox_,
        true);
    note_->setFont(style::calloutFont(note_->font()));
    noteRow->addWidget(noteIcon);
    noteRow->addWidget(note_, 1);
    noteLayout->addLayout(noteRow);
    noteLayout->addWidget(divider(noteBox_));
    return noteBox_;
}

// The entries, which drag out as copies, and their menu.
QTableView* DriveContentsView::createTable() {
    model_ = new DriveTable(this);
    table_ = new QTableView(browser_);
    table_->setAccessibleName(QStringLiteral("Files on the drive"));
    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setShowGrid(false);
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    table_->setDragEnabled(true);
    table_->setDragDropMode(QAbstractItemView::DragOnly);
    table_->setDefaultDropAction(Qt::CopyAction);
    auto* header = table_->horizontalHeader();
    header->setSectionResizeMode(DriveTable::nameColumn, QHeaderView::Stretch);
    fitRowsToFont(table_);
    // A late evening in a month with a long name, in the user's own format.
    fitColumn(table_, DriveTable::modifiedColumn, 170,
              {QString::fromStdString(abbreviatedDateText(Date{1'727'564'280}, true))});
    fitColumn(table_, DriveTable::sizeColumn, 80, {QStringLiteral("888.88 MB")});
    table_->setItemDelegateForColumn(DriveTable::sizeColumn, new TabularDigits::Delegate(table_));
    header->resizeSection(DriveTable::kindColumn, 150);
    loading_ = new QProgressBar(table_->viewport());
    loading_->setRange(0, 0);
    loading_->setTextVisible(false);
    loading_->setFixedWidth(160);
    loading_->setAttribute(Qt::WA_TransparentForMouseEvents);
    // No words on screen; a screen reader still hears what it is.
    loading_->setAccessibleName(QStringLiteral("Loading"));
    loading_->hide();
    connect(table_, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { open(model_->pathsOf({index})); });
    table_->installEventFilter(this);
    reachRowsByKeyboard(table_, [this](const RowMenuRequest& request) {
        const auto pathOf = [this](const QModelIndex& index) -> std::optional<std::string> {
            if (!index.isValid()) return std::nullopt;
            return *model_->pathsOf({index}).begin();
        };
        const std::set<std::string> paths =
            request.clicked && !request.clicked->isValid()
                ? std::set<std::string>{}
                : rowMenuTargets(model_->pathsOf(table_->selectionModel()->selectedRows()),
                                 request.clicked ? pathOf(*request.clicked) : std::nullopt,
                                 pathOf(table_->currentIndex()));
        auto* menu = new QMenu(this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        connect(menu->addAction(QStringLiteral("Open")), &QAction::triggered, this, [this, paths] { open(paths); });
        connect(menu->addAction(QStringLiteral("Show in Folder")), &QAction::triggered, this,
                [this, paths] { reveal(paths); });
        menu->popup(request.at);
    });

    return table_;
}

QHBoxLayout* DriveContentsView::createFooter() {
    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(12, 8, 12, 8);
    // A note under the list: a little smaller than the body text, in the secondary colour.
    const auto calloutLabel = [this](const QString& text) {
        QLabel* label = secondaryLabel(text, browser_);
        label->setFont(style::calloutFont(label->font()));
        return label;
    };
    count_ = calloutLabel(QString());
    footer->addWidget(count_);
    footer->addStretch();
    footer->addWidget(calloutLabel(QStringLiteral("Drag files out to copy them to your computer.")));
    return footer;
}

bool DriveContentsView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == table_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (enter && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier && table_->currentIndex().isValid()) {
            open(model_->pathsOf({table_->currentIndex()}));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

std::string DriveContentsView::shownFolder() const { return folder_.value_or(root_.value_or("")); }

void DriveContentsView::driveRootChanged() {
    root_ = host_.state().driveRoot;
    folder_.reset();
    load();
}

void DriveContentsView::setFolder(std::optional<std::string> folder) {
    folder_ = std::move(folder);
    load();
}

void DriveContentsView::setSearch(const QString& search) {
    search_ = search.toStdString();
    render();
}

void DriveContentsView::back() {
    if (!root_) return;
    setFolder(backTarget(*root_, shownFolder()));
}

void DriveContentsView::load() {
    const uint64_t generation = ++generation_;
    table_->clearSelection();
    if (!root_) {
        isLoading_ = false;
        render();
        return;
    }
    isLoading_ = true;
    failure_.reset();
    render();
    // The worker reaches the host only through this copy of the pointer, and the view only
    // through the relay. Qt's shared pool, not the model's: listings of a drive slow to
    // answer must not hold up the model's own work.
    const FilesHost* host = &host_;
    QThreadPool::globalInstance()->start([host, relay = relay_.shared(), folder = shownFolder(), generation, this] {
        std::vector<DriveItem> items;
        std::optional<std::string> failure;
        try {
            items = host->listFolder(folder);
        } catch (const std::exception& error) {
            failure = error.what();
        }
        relay->post([this, generation, items = std::move(items), failure = std::move(failure)]() mutable {
            apply(generation, std::move(items), std::move(failure));
        });
    });
}

void DriveContentsView::apply(uint64_t generation, std::vector<DriveItem> items, std::optional<std::string> failure) {
    // A listing of a folder no longer shown: the newer one decides.
    if (generation != generation_) return;
    items_ = failure ? std::vector<DriveItem>{} : std::move(items);
    failure_ = std::move(failure);
    isLoading_ = false;
    render();
    emit listed();
}

std::vector<QToolButton*> DriveContentsView::crumbButtons() const {
    std::vector<QToolButton*> buttons;
    for (int i = 0; i < crumbBar_->count(); ++i)
        if (auto* button = qobject_cast<QToolButton*>(crumbBar_->itemAt(i)->widget()); button && button != back_)
            buttons.push_back(button);
    return buttons;
}

void DriveContentsView::renderCrumbs() {
    while (QLayoutItem* item = crumbBar_->takeAt(0)) {
        // Hidden at once: until it goes, Tab would still reach it.
        if (item->widget() && item->widget() != back_) {
            item->widget()->hide();
            item->widget()->deleteLater();
        }
        delete item;
    }
    crumbBar_->addWidget(back_);
    const std::vector<std::string> names = crumbs(*root_, shownFolder());
    back_->setEnabled(!names.empty());
    auto addButton = [this](const QString& title, bool bold, std::function<void()> action) {
        auto* button = new QToolButton(crumbBar_->parentWidget());
        button->setText(title);
        button->setAutoRaise(true);
        QFont font = button->font();
        font.setBold(bold);
        button->setFont(font);
        connect(button, &QToolButton::clicked, this, std::move(action));
        crumbBar_->addWidget(button);
    };
    addButton(QString::fromStdString(driveDisplayName(host_.state())), names.empty(), [this] { setFolder(std::nullopt); });
    for (size_t i = 0; i < names.size(); ++i) {
        auto* chevron = new QLabel(crumbBar_->parentWidget());
        chevron->setPixmap(Symbols::icon("chevron-right").pixmap(10, 10));
        crumbBar_->addWidget(chevron);
        addButton(fromPath(names[i]), i + 1 == names.size(),
                  [this, names, i] { setFolder(crumbTarget(*root_, names, i)); });
    }
    crumbBar_->addStretch();
}

void DriveContentsView::render() {
    const std::string drive = driveDisplayName(host_.state());
    unplugged_->setVisible(!root_);
    browser_->setVisible(root_.has_value());
    if (!root_) {
        if (!unpluggedView_ || shownDriveName_ != drive) {
            delete unpluggedView_;
            unpluggedView_ = new EmptyStateView("drive-missing", QString::fromStdString("Plug in " + drive),
                                                QString::fromStdString("Plug in " + drive + " to see everything on it."),
                                                unplugged_);
            unplugged_->layout()->addWidget(unpluggedView_);
            shownDriveName_ = drive;
        }
        return;
    }
    renderCrumbs();
    noteBox_->setVisible(insideAppFolder(shownFolder(), host_.appFolder(*root_)));

    std::vector<DriveItem> visible = visibleItems(items_, search_);
    const size_t visibleCount = visible.size();
    if (visible != model_->items()) model_->setItems(std::move(visible));
    count_->setText(QString::fromStdString(itemCountText(items_.size())));

    delete overlay_;
    overlay_ = nullptr;
    const QString searchText = QString::fromStdString(search_);
    const BrowserOverlay shownOverlay =
        browserOverlay(isLoading_, failure_.has_value(), items_.size(), visibleCount, search_);
    loading_->setVisible(shownOverlay == BrowserOverlay::loading);
    placeLoadingIndicator();
    switch (shownOverlay) {
        case BrowserOverlay::loading: break;
        case BrowserOverlay::failure:
            overlay_ = new EmptyStateView("warning", QStringLiteral("Can't open this folder"),
                                          QString::fromStdString(*failure_), table_->viewport());
            break;
        case BrowserOverlay::noResults:
            overlay_ = new EmptyStateView("search", EmptyStateView::noResultsTitle(searchText),
                                          EmptyStateView::noResultsDescription(), table_->viewport());
            break;
        case BrowserOverlay::empty:
            overlay_ = new EmptyStateView("folder", QStringLiteral("This folder is empty"), QString(),
                                          table_->viewport());
            break;
        case BrowserOverlay::none: break;
    }
    if (overlay_) {
        overlay_->setAttribute(Qt::WA_TransparentForMouseEvents);
        overlay_->setGeometry(table_->viewport()->rect());
        overlay_->show();
    }
}

void DriveContentsView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (overlay_) overlay_->setGeometry(table_->viewport()->rect());
    placeLoadingIndicator();
}

void DriveContentsView::placeLoadingIndicator() {
    QRect bar(QPoint(0, 0), QSize(loading_->width(), loading_->sizeHint().height()));
    bar.moveCenter(table_->viewport()->rect().center());
    loading_->setGeometry(bar);
}

std::vector<DriveItem> DriveContentsView::itemsWithPaths(const std::set<std::string>& paths) const {
    std::vector<DriveItem> chosen;
    for (const auto& item : items_)
        if (paths.count(item.path)) chosen.push_back(item);
    return chosen;
}

void DriveContentsView::open(const std::set<std::string>& paths) {
    const OpenChoice choice = openChoice(itemsWithPaths(paths));
    if (choice.enter) {
        setFolder(*choice.enter);
        return;
    }
    for (const auto& path : choice.open) host_.open(path);
}

void DriveContentsView::reveal(const std::set<std::string>& paths) {
    std::vector<std::string> chosen;
    for (const auto& item : itemsWithPaths(paths)) chosen.push_back(item.path);
    host_.showItems(chosen);
}

}  // namespace keldwick
