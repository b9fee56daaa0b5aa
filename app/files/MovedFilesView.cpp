#include "files/MovedFilesView.h"

#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "files/DropOverlay.h"
#include "files/FilesHost.h"
#include "model/StatusTexts.h"
#include "ui/Brand.h"
#include "ui/Divider.h"
#include "ui/EmptyStateView.h"
#include "ui/ElidedLabel.h"
#include "ui/KeyboardReach.h"
#include "ui/PlainText.h"
#include "ui/Symbols.h"
#include "ui/TableFit.h"
#include "ui/TabularDigits.h"

namespace keldwick {
namespace {

QString text(const std::string& s) { return QString::fromStdString(s); }

QString tinted(const QColor& color, double alpha) {
    QColor c = color;
    c.setAlphaF(alpha);
    return QStringLiteral("background-color: %1;").arg(c.name(QColor::HexArgb));
}

}  // namespace

std::optional<std::vector<std::string>> droppedPaths(const QMimeData& data) {
    std::vector<std::string> paths;
    for (const QUrl& url : data.urls())
        if (url.isLocalFile() && !url.toLocalFile().isEmpty()) paths.push_back(url.toLocalFile().toStdString());
    if (paths.empty()) return std::nullopt;
    return paths;
}

MovedFilesView::MovedFilesView(FilesHost& host, QWidget* parent) : QWidget(parent), host_(host) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // The drive-away banner: the drive-with-a-cross symbol and what it means.
    bannerBox_ = new QWidget(this);
    bannerBox_->setObjectName(QStringLiteral("banner"));
    bannerBox_->setAttribute(Qt::WA_StyledBackground);
    bannerBox_->setStyleSheet(QStringLiteral("#banner { ") + tinted(brandOrange(), 0.15) + QStringLiteral(" }"));
    auto* bannerRow = new QHBoxLayout(bannerBox_);
    bannerRow->setContentsMargins(10, 10, 10, 10);
    bannerRow->setSpacing(8);
    bannerIcon_ = new QLabel(bannerBox_);
    bannerIcon_->setFixedSize(16, 16);
    bannerRow->addWidget(bannerIcon_, 0, Qt::AlignTop);
    banner_ = plainLabel(QString(), bannerBox_, true);
    bannerRow->addWidget(banner_, 1);
    layout->addWidget(bannerBox_);
    layout->addWidget(createTable(), 1);
    layout->addWidget(createProblemBar());
    layout->addWidget(divider(this));
    layout->addLayout(createBottomBar());

    connect(&host_, &FilesHost::stateChanged, this, &MovedFilesView::scheduleUpdate);
    update();
}

// The records, their menu, and the frame a drag over them shows.
QTableView* MovedFilesView::createTable() {
    const auto driveStatus = [this](const OffloadRecord& r) { return host_.driveStatus(r); };
    model_ = new MovedTable(host_.state().home, [this] { return host_.now(); }, driveStatus, this);
    table_ = new QTableView(this);
    table_->setAccessibleName(QStringLiteral("Moved files"));
    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setShowGrid(false);
    table_->setWordWrap(false);
    table_->setTextElideMode(Qt::ElideMiddle);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    auto* header = table_->horizontalHeader();
    header->setSectionResizeMode(MovedTable::nameColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(MovedTable::whereColumn, QHeaderView::Interactive);
    header->resizeSection(MovedTable::whereColumn, 200);
    // Widths for the longest texts these columns show, so a larger font widens them.
    fitRowsToFont(table_);
    fitColumn(table_, MovedTable::sizeColumn, 80, {QStringLiteral("888.88 MB")});
    table_->setItemDelegateForColumn(MovedTable::sizeColumn, new TabularDigits::Delegate(table_));
    fitColumn(table_, MovedTable::movedColumn, 110,
              {QStringLiteral("11 months ago"), QStringLiteral("59 minutes ago"), QStringLiteral("23 hours ago")});
    fitColumn(table_, MovedTable::statusColumn, 180,
              {QStringLiteral("Drive not plugged in"), QStringLiteral("Extra copy on drive"), QStringLiteral("Drive refused")}, 22);
    header->setMinimumSectionSize(60);
    table_->viewport()->setAcceptDrops(true);
    table_->viewport()->installEventFilter(this);

    dropOverlay_ = new DropOverlay(table_->viewport());
    dropOverlay_->hide();

    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, &MovedFilesView::selectionEdited);
    connect(table_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        openRecords(model_->idsOf({index}));
    });
    table_->installEventFilter(this);
    reachRowsByKeyboard(table_, [this](const RowMenuRequest& request) {
        const auto idOf = [this](const QModelIndex& index) -> std::optional<int64_t> {
            if (!index.isValid()) return std::nullopt;
            return *model_->idsOf({index}).begin();
        };
        // A click off the rows offers the menu of nothing chosen.
        const std::set<int64_t> ids =
            request.clicked && !request.clicked->isValid()
                ? std::set<int64_t>{}
                : rowMenuTargets(selection_, request.clicked ? idOf(*request.clicked) : std::nullopt,
                                 idOf(table_->currentIndex()));
        QMenu* menu = menuFor(ids, this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(request.at);
    });
    return table_;
}

// The problem bar: one selected record's trouble and what can be done about it.
QWidget* MovedFilesView::createProblemBar() {
    problemBar_ = new QWidget(this);
    auto* problemColumn = new QVBoxLayout(problemBar_);
    problemColumn->setContentsMargins(0, 0, 0, 0);
    problemColumn->setSpacing(0);
    problemColumn->addWidget(divider(problemBar_));
    auto* problemRow = new QWidget(problemBar_);
    problemRow->setStyleSheet(tinted(brandOrange(), 0.08));
    auto* problem = new QHBoxLayout(problemRow);
    problem->setContentsMargins(12, 10, 12, 10);
    problem->setSpacing(10);
    problemIcon_ = new QLabel(problemRow);
    problemText_ = plainLabel(QString(), problemRow, true);
    problemFirst_ = new QPushButton(problemRow);
    problemDelete_ = new QPushButton(problemRow);
    problem->addWidget(problemIcon_);
    problem->addWidget(problemText_, 1);
    problem->addWidget(problemFirst_);
    problem->addWidget(problemDelete_);
    problemColumn->addWidget(problemRow);
    connect(problemFirst_, &QPushButton::clicked, this, [this] {
        const auto record = problemRecord(host_.state().records, selection_);
        if (!record) return;
        const auto buttons = problemButtons(*record, host_.state(), [this](auto& p) { return host_.exists(p); });
        if (buttons.first == MovedAction::restoreCopy) host_.restoreCopy(record->id);
        if (buttons.first == MovedAction::restore) host_.restoreRecords({record->id});
    });
    connect(problemDelete_, &QPushButton::clicked, this, [this] {
        if (const auto record = problemRecord(host_.state().records, selection_)) confirmDelete(*record);
    });

    return problemBar_;
}

// What runs, and the buttons for moving and bringing back.
QHBoxLayout* MovedFilesView::createBottomBar() {
    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(12, 12, 12, 12);
    // A long drive name shortens the summary rather than running it under the buttons.
    status_ = new ElidedLabel(QString(), this);
    // A problem is a sentence or more the user needs whole: wrapped, never cut.
    problem_ = plainLabel(QString(), this, true);
    problem_->setMinimumWidth(160);
    progress_ = new QProgressBar(this);
    progress_->setFixedWidth(140);
    progress_->setTextVisible(false);
    stop_ = new QPushButton(QStringLiteral("Stop"), this);
    moveFiles_ = new QPushButton(QStringLiteral("Move Files\u2026"), this);
    selectionButton_ = new QPushButton(this);
    setPlainToolTip(selectionButton_,
                    QStringLiteral("Copies the file back to its folder on your computer and removes it from the drive."));
    restoreAll_ = new QPushButton(QStringLiteral("Bring Everything Back\u2026"), this);
    bottom->addWidget(status_, 1);
    bottom->addWidget(problem_, 1);
    bottom->addWidget(progress_);
    bottom->addWidget(stop_);
    bottom->addStretch();
    bottom->addWidget(moveFiles_);
    bottom->addWidget(selectionButton_);
    bottom->addWidget(restoreAll_);
    connect(stop_, &QPushButton::clicked, this, [this] { host_.cancel(); });
    connect(moveFiles_, &QPushButton::clicked, this, [this] { host_.chooseFilesToMove(); });
    connect(selectionButton_, &QPushButton::clicked, this, [this] {
        std::vector<int64_t> ids;
        for (const auto& record : recordsWithIds(host_.state().records, selection_))
            if (isRestorable(record, [this](auto& r) { return host_.driveStatus(r); })) ids.push_back(record.id);
        if (!ids.empty()) host_.restoreRecords(ids);
    });
    connect(restoreAll_, &QPushButton::clicked, this, &MovedFilesView::confirmRestoreAll);
    return bottom;
}

QMessageBox* MovedFilesView::confirmation() const { return confirmation_; }

void MovedFilesView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!refreshed_) {
        refreshed_ = true;
        host_.refresh();
    }
}

void MovedFilesView::setSearch(const QString& search) {
    const std::string wanted = search.toStdString();
    if (wanted == search_) return;
    search_ = wanted;
    update();
}

void MovedFilesView::setSelection(std::set<int64_t> ids) {
    selection_ = std::move(ids);
    applyingSelection_ = true;
    table_->selectionModel()->select(model_->selectionOf(selection_), QItemSelectionModel::ClearAndSelect);
    applyingSelection_ = false;
    update();
}

void MovedFilesView::selectionEdited() {
    if (applyingSelection_) return;
    // Ids of records the list doesn't show now stay selected; the shown ones follow the table.
    for (int64_t id : model_->ids()) selection_.erase(id);
    for (int64_t id : model_->idsOf(table_->selectionModel()->selectedRows())) selection_.insert(id);
    update();
}

void MovedFilesView::scheduleUpdate() {
    if (updatePending_) return;
    updatePending_ = true;
    QTimer::singleShot(0, this, [this] { update(); });
}

void MovedFilesView::update() {
    updatePending_ = false;
    const ModelState& state = host_.state();
    const auto driveStatus = [this](const OffloadRecord& r) { return host_.driveStatus(r); };
    const auto exists = [this](const std::string& p) { return host_.exists(p); };
    const std::string drive = driveDisplayName(state);

    const auto banner = driveAwayBanner(state);
    bannerBox_->setVisible(banner.has_value());
    if (banner) {
        banner_->setText(text(*banner));
        bannerIcon_->setPixmap(Symbols::drawn("drive-missing", palette().color(QPalette::WindowText))
                                   .pixmap(16, 16));
    }

    auto listed = listedRows(state.records, search_);
    const size_t listedCount = listed.size();
    if (!model_->shows(state.records, listed)) {
        applyingSelection_ = true;
        model_->setRows(state.records, std::move(listed));
        table_->selectionModel()->select(model_->selectionOf(selection_), QItemSelectionModel::ClearAndSelect);
        applyingSelection_ = false;
    }

    const auto emptyState = movedEmptyState(state, listedCount, search_);
    if (emptyState != shownEmpty_) {
        delete empty_;
        empty_ = nullptr;
        if (emptyState) {
            const bool search = emptyState->isSearch;
            empty_ = new EmptyStateView(emptyState->symbol,
                                        search ? EmptyStateView::noResultsTitle(text(search_)) : text(emptyState->title),
                                        search ? EmptyStateView::noResultsDescription() : text(emptyState->description),
                                        table_->viewport());
            empty_->setAttribute(Qt::WA_TransparentForMouseEvents);
            if (emptyState->offersFreeUpSpace) {
                empty_->setAttribute(Qt::WA_TransparentForMouseEvents, false);
                empty_->addButton(QStringLiteral("Free Up Space Now\u2026"), [this] { host_.openPreview(); });
            }
            empty_->show();
        }
        shownEmpty_ = emptyState;
    }
    dropOverlay_->setText(QStringLiteral("Move to ") + text(drive));
    placeOverlays();

    const auto problemOwner = problemRecord(state.records, selection_);
    problemBar_->setVisible(problemOwner.has_value());
    if (problemOwner) {
        const Problem problem = *problemOf(*problemOwner, drive);
        problemIcon_->setPixmap(Symbols::drawn(problem.symbol, brandOrange()).pixmap(16, 16));
        problemText_->setText(text(problem.text));
        const ProblemButtons buttons = problemButtons(*problemOwner, state, exists);
        problemFirst_->setVisible(buttons.first.has_value());
        problemFirst_->setText(text(buttons.firstTitle));
        problemFirst_->setEnabled(buttons.enabled);
        problemDelete_->setVisible(buttons.offersDelete);
        problemDelete_->setText(text(buttons.deleteTitle));
        problemDelete_->setEnabled(buttons.enabled);
    }

    const BottomStatus bottom = bottomStatus(state);
    const bool isProblem = bottom.kind == BottomStatus::Kind::problem;
    status_->setVisible(!isProblem);
    problem_->setVisible(isProblem);
    status_->setFullText(isProblem ? QString() : text(bottom.text));
    problem_->setText(isProblem ? text(bottom.text) : QString());
    QPalette palette = status_->palette();
    palette.setColor(QPalette::WindowText, tintColor(Tint::secondary));
    status_->setPalette(palette);
    palette = problem_->palette();
    palette.setColor(QPalette::WindowText, brandOrange());
    problem_->setPalette(palette);
    const bool showsProgress = bottom.kind == BottomStatus::Kind::progress;
    progress_->setVisible(showsProgress);
    stop_->setVisible(showsProgress);
    if (showsProgress) {
        // The bar counts in kilobytes past int's reach.
        const int shift = bottom.total > INT32_MAX ? 10 : 0;
        progress_->setRange(0, static_cast<int>(bottom.total >> shift));
        progress_->setValue(static_cast<int>(std::min(bottom.done, bottom.total) >> shift));
    }

    const BottomButtons buttons = bottomButtons(state, selection_, driveStatus);
    moveFiles_->setEnabled(buttons.moveFilesEnabled);
    setPlainToolTip(moveFiles_, QStringLiteral("Moves files or folders you choose to ") + text(drive) +
                                       QStringLiteral(". You can also drop them on the list."));
    selectionButton_->setText(text(buttons.selectionTitle));
    selectionButton_->setEnabled(buttons.selectionEnabled);
    restoreAll_->setEnabled(buttons.restoreAllEnabled);
}

void MovedFilesView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeOverlays();
}

void MovedFilesView::placeOverlays() {
    const QRect area = table_->viewport()->rect();
    if (empty_) empty_->setGeometry(area);
    dropOverlay_->setGeometry(area.adjusted(8, 8, -8, -8));
}

bool MovedFilesView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == table_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            openRecords(selection_);
            return true;
        }
    }
    if (watched != table_->viewport()) return QWidget::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (!drag->mimeData() || !droppedPaths(*drag->mimeData())) {
                drag->ignore();
                return true;
            }
            drag->acceptProposedAction();
            placeOverlays();
            dropOverlay_->show();
            dropOverlay_->raise();
            return true;
        }
        case QEvent::DragLeave:
            dropOverlay_->hide();
            return true;
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            dropOverlay_->hide();
            const auto paths = drop->mimeData() ? droppedPaths(*drop->mimeData()) : std::nullopt;
            if (!paths) {
                drop->ignore();
                return true;
            }
            drop->acceptProposedAction();
            // Moving starts once the drop has returned, so the drag's source is not held.
            QTimer::singleShot(0, this, [this, paths = *paths] { host_.moveToDrive(paths); });
            return true;
        }
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

QMenu* MovedFilesView::menuFor(const std::set<int64_t>& ids, QWidget* parent) {
    auto* menu = new QMenu(parent);
    const auto chosen = recordsWithIds(host_.state().records, ids);
    for (const MenuEntry& entry : movedRowMenu(chosen, host_.state(),
                                               [this](auto& r) { return host_.driveStatus(r); },
                                               [this](auto& p) { return host_.exists(p); })) {
        if (entry.action == MovedAction::divider) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(text(entry.title));
        action->setEnabled(entry.enabled);
        connect(action, &QAction::triggered, this, [this, a = entry.action, ids] { run(a, ids); });
    }
    return menu;
}

void MovedFilesView::openRecords(const std::set<int64_t>& ids) {
    for (const auto& path : pathsToOpen(recordsWithIds(host_.state().records, ids), host_.state())) host_.open(path);
}

void MovedFilesView::run(MovedAction action, const std::set<int64_t>& ids) {
    const ModelState& state = host_.state();
    const auto chosen = recordsWithIds(state.records, ids);
    const auto driveStatus = [this](const OffloadRecord& r) { return host_.driveStatus(r); };
    std::vector<OffloadRecord> restorable;
    for (const auto& record : chosen)
        if (isRestorable(record, driveStatus)) restorable.push_back(record);
    switch (action) {
        case MovedAction::open: openRecords(ids); break;
        case MovedAction::restore: {
            std::vector<int64_t> restoreIds;
            for (const auto& record : restorable) restoreIds.push_back(record.id);
            if (!restoreIds.empty()) host_.restoreRecords(restoreIds);
            break;
        }
        case MovedAction::keepOnComputer:
            if (!restorable.empty()) host_.keepOnComputer(restorable);
            break;
        case MovedAction::restoreCopy:
            if (chosen.size() == 1) host_.restoreCopy(chosen.front().id);
            break;
        case MovedAction::showInFileManager:
            host_.showItems(pathsToReveal(chosen, [this](auto& p) { return host_.exists(p); }));
            break;
        case MovedAction::showOnDrive:
            if (state.driveRoot) {
                std::vector<std::string> paths;
                for (const auto& record : chosen) paths.push_back(record.drivePath(*state.driveRoot));
                host_.showItems(paths);
            }
            break;
        case MovedAction::deleteCopy:
            if (chosen.size() == 1) confirmDelete(chosen.front());
            break;
        case MovedAction::divider: break;
    }
}

void MovedFilesView::confirmRestoreAll() {
    const Confirmation c = restoreAllConfirmation(host_.state());
    delete confirmation_;
    confirmation_ = new QMessageBox(QMessageBox::Question, text(c.title), text(c.title), QMessageBox::Cancel, this);
    // Names are data: the title and the message go in as plain text, one under the other.
    confirmation_->setTextFormat(Qt::PlainText);
    if (!c.message.empty()) confirmation_->setText(text(c.title) + QStringLiteral("\n\n") + text(c.message));
    QPushButton* go = confirmation_->addButton(text(c.button), QMessageBox::AcceptRole);
    confirmation_->setDefaultButton(go);
    confirmation_->setAttribute(Qt::WA_DeleteOnClose);
    connect(go, &QPushButton::clicked, this, [this] { host_.restoreAll(); });
    confirmation_->open();
}

void MovedFilesView::confirmDelete(const OffloadRecord& record) {
    const Confirmation c = deleteConfirmation(record, host_.state());
    delete confirmation_;
    confirmation_ = new QMessageBox(QMessageBox::Warning, text(c.title), text(c.title), QMessageBox::Cancel, this);
    // Names are data: the title and the message go in as plain text, one under the other.
    confirmation_->setTextFormat(Qt::PlainText);
    if (!c.message.empty()) confirmation_->setText(text(c.title) + QStringLiteral("\n\n") + text(c.message));
    QPushButton* remove = confirmation_->addButton(text(c.button), QMessageBox::DestructiveRole);
    // Deleting is never what Return does.
    confirmation_->setDefaultButton(QMessageBox::Cancel);
    confirmation_->setAttribute(Qt::WA_DeleteOnClose);
    // The engine reads the record again by id and refuses one that changed phase meanwhile.
    connect(remove, &QPushButton::clicked, this, [this, record] { host_.deleteDriveCopy(record); });
    confirmation_->open();
}

}  // namespace keldwick
