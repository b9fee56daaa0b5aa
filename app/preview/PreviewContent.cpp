#include "preview/PreviewContent.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableView>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "model/PreviewModel.h"
#include "preview/PreviewHost.h"
#include "preview/PreviewRows.h"
#include "preview/PreviewSelection.h"
#include "preview/PreviewTable.h"
#include "ui/Brand.h"
#include "ui/Divider.h"
#include "ui/EmptyStateView.h"
#include "ui/KeyboardReach.h"
#include "ui/PlainText.h"
#include "ui/Symbols.h"
#include "ui/TabularDigits.h"

namespace keldwick {

namespace {

QString text(const std::string& s) { return QString::fromStdString(s); }

void useSecondaryStyle(QLabel* label) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    label->setPalette(palette);
}

}  // namespace

PreviewContent::PreviewContent(PreviewHost& host, PreviewModel& preview, std::function<void()> close,
                               QWidget* parent)
    : QWidget(parent), host_(host), preview_(&preview), close_(std::move(close)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(createHeader());
    layout->addWidget(createBanner());
    layout->addWidget(divider(this));
    body_ = new QStackedWidget(this);
    body_->addWidget(createScanningPage());
    emptyPage_ = new QWidget(body_);
    emptyLayout_ = new QVBoxLayout(emptyPage_);
    body_->addWidget(emptyPage_);
    body_->addWidget(createTablePage());
    layout->addWidget(body_, 1);
    layout->addWidget(divider(this));
    layout->addLayout(createFooter());
    followChanges(preview);
    fillSkipped();
    render();
}

// The title and the line below it.
QWidget* PreviewContent::createHeader() {
    auto* header = new QWidget(this);
    auto* headerLayout = new QVBoxLayout(header);
    headerLayout->setContentsMargins(20, 20, 20, 20);
    headerLayout->setSpacing(4);
    title_ = plainLabel(QString(), header);
    QFont titleFont = title_->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
    title_->setFont(titleFont);
    subtitle_ = plainLabel(QString(), header, true);
    useSecondaryStyle(subtitle_);
    headerLayout->addWidget(title_);
    headerLayout->addWidget(subtitle_);
    return header;
}

// The band that says a test run moves nothing.
QWidget* PreviewContent::createBanner() {
    banner_ = new QFrame(this);
    banner_->setObjectName(QStringLiteral("testBanner"));
    const QColor orange = brandOrange();
    banner_->setStyleSheet(QStringLiteral("#testBanner { background-color: rgba(%1, %2, %3, 38); }")
                               .arg(orange.red())
                               .arg(orange.green())
                               .arg(orange.blue()));
    auto* bannerLayout = new QHBoxLayout(banner_);
    bannerLayout->setContentsMargins(20, 8, 20, 8);
    auto* bannerIcon = new QLabel(banner_);
    bannerIcon->setPixmap(Symbols::icon("test-tube").pixmap(16, 16));
    bannerLayout->addWidget(bannerIcon);
    bannerLayout->addWidget(plainLabel(QString::fromUtf8(kTestModeBanner), banner_, true), 1);
    return banner_;
}

// What shows while the scan runs.
QWidget* PreviewContent::createScanningPage() {
    scanningPage_ = new QWidget(body_);
    auto* scanningLayout = new QVBoxLayout(scanningPage_);
    scanningLayout->addStretch();
    auto* spinner = new QProgressBar(scanningPage_);
    spinner->setRange(0, 0);
    spinner->setMaximumWidth(240);
    scanningLayout->addWidget(spinner, 0, Qt::AlignHCenter);
    scanningLayout->addSpacing(10);
    scanningText_ = plainLabel(QString(), scanningPage_);
    useSecondaryStyle(scanningText_);
    scanningLayout->addWidget(scanningText_, 0, Qt::AlignHCenter);
    scanningLayout->addStretch();
    return scanningPage_;
}

// The files that would move, and below them the ones the scan skipped.
QWidget* PreviewContent::createTablePage() {
    tablePage_ = new QWidget(body_);
    auto* tableLayout = new QVBoxLayout(tablePage_);
    tableLayout->setContentsMargins(0, 0, 0, 0);
    tableLayout->setSpacing(0);
    table_ = new PreviewTable(
        host_.state().home, [this] { return host_.now(); },
        [this](const std::string& path) {
            if (preview_) preview_->toggle(path);
        },
        this);
    view_ = new QTableView(tablePage_);
    view_->setAccessibleName(QStringLiteral("Files to move"));
    view_->setModel(table_);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view_->setShowGrid(false);
    view_->setAlternatingRowColors(true);
    view_->setWordWrap(false);
    view_->setTextElideMode(Qt::ElideMiddle);
    view_->setFrameShape(QFrame::NoFrame);
    view_->verticalHeader()->hide();
    view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 8);
    QHeaderView* columns = view_->horizontalHeader();
    // The plan's order is the order the run would take: no sorting is offered.
    view_->setSortingEnabled(false);
    columns->setSortIndicatorShown(false);
    columns->setSectionResizeMode(PreviewTable::toggleColumn, QHeaderView::Fixed);
    columns->setSectionResizeMode(PreviewTable::nameColumn, QHeaderView::Stretch);
    columns->setSectionResizeMode(PreviewTable::whereColumn, QHeaderView::Stretch);
    columns->setSectionResizeMode(PreviewTable::sizeColumn, QHeaderView::Fixed);
    columns->setSectionResizeMode(PreviewTable::lastUsedColumn, QHeaderView::Fixed);
    columns->setMinimumSectionSize(24);
    columns->resizeSection(PreviewTable::toggleColumn, 24);
    columns->resizeSection(PreviewTable::sizeColumn, 80);
    view_->setItemDelegateForColumn(PreviewTable::sizeColumn, new TabularDigits::Delegate(view_));
    columns->resizeSection(PreviewTable::lastUsedColumn, 120);
    selection_ = new PreviewSelection(table_, view_->selectionModel(), this);
    reachRowsByKeyboard(view_, [this](const RowMenuRequest& request) { showMenu(request); });
    tableLayout->addWidget(view_, 1);

    skippedToggle_ = new QToolButton(tablePage_);
    skippedToggle_->setCheckable(true);
    skippedToggle_->setAutoRaise(true);
    skippedToggle_->setArrowType(Qt::RightArrow);
    skippedToggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    skippedList_ = new QTreeWidget(tablePage_);
    skippedList_->setAccessibleName(QStringLiteral("Skipped files"));
    skippedList_->setColumnCount(3);
    skippedList_->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Where"), QStringLiteral("Reason")});
    skippedList_->setRootIsDecorated(false);
    skippedList_->setUniformRowHeights(true);
    skippedList_->setTextElideMode(Qt::ElideMiddle);
    skippedList_->setMaximumHeight(140);
    skippedList_->hide();
    connect(skippedToggle_, &QToolButton::toggled, this, [this](bool open) {
        skippedToggle_->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        skippedList_->setVisible(open);
    });
    tableLayout->addWidget(skippedToggle_, 0, Qt::AlignLeft);
    tableLayout->addWidget(skippedList_);
    return tablePage_;
}

// The notes, the choice to keep asking, and the buttons.
QHBoxLayout* PreviewContent::createFooter() {
    auto* footer = new QHBoxLayout();
    footer->setContentsMargins(16, 16, 16, 16);
    auto* notes = new QVBoxLayout();
    notes->setSpacing(6);
    shortfall_ = plainLabel(QString(), this, true);
    useSecondaryStyle(shortfall_);
    askEveryTime_ = new QCheckBox(QString::fromUtf8(kAskEveryTime), this);
    setPlainToolTip(askEveryTime_, QString::fromUtf8(kAskEveryTimeHelp));
    // Only the user's clicks write the choice; redraws set the box with signals blocked.
    connect(askEveryTime_, &QCheckBox::toggled, this, [this](bool on) {
        if (preview_) preview_->setKeepAsking(on);
    });
    notes->addWidget(shortfall_);
    notes->addWidget(askEveryTime_);
    footer->addLayout(notes, 1);
    closeButton_ = new QPushButton(QStringLiteral("Close"), this);
    notNow_ = new QPushButton(QStringLiteral("Not Now"), this);
    run_ = new QPushButton(this);
    for (QPushButton* button : {closeButton_, notNow_, run_}) button->setAutoDefault(false);
    connect(closeButton_, &QPushButton::clicked, this, [this] { close_(); });
    connect(notNow_, &QPushButton::clicked, this, [this] { close_(); });
    connect(run_, &QPushButton::clicked, this, &PreviewContent::approve);
    footer->addWidget(closeButton_, 0, Qt::AlignVCenter);
    footer->addWidget(notNow_, 0, Qt::AlignVCenter);
    footer->addWidget(run_, 0, Qt::AlignVCenter);
    return footer;
}

// Redraws once per turn of the event loop, whatever changed in the model or the preview.
void PreviewContent::followChanges(PreviewModel& preview) {
    renderTimer_.setSingleShot(true);
    renderTimer_.setInterval(0);
    connect(&renderTimer_, &QTimer::timeout, this, &PreviewContent::render);
    connect(&host_, &PreviewHost::stateChanged, this, &PreviewContent::scheduleRender);
    auto rowsChanged = [this] {
        rowsStale_ = true;
        scheduleRender();
    };
    connect(&preview, &PreviewModel::planChanged, this, rowsChanged);
    connect(&preview, &PreviewModel::excludedChanged, this, rowsChanged);
    connect(&preview, &PreviewModel::reportChanged, this, [this, rowsChanged] {
        fillSkipped();
        rowsChanged();
    });
    for (auto signal : {&PreviewModel::isScanningChanged, &PreviewModel::keepAskingChanged,
                        &PreviewModel::driveRoomChanged}) {
        connect(&preview, signal, this, &PreviewContent::scheduleRender);
    }
}

const std::set<std::string>& PreviewContent::selection() const { return selection_->paths(); }

void PreviewContent::scheduleRender() {
    if (!renderTimer_.isActive()) renderTimer_.start();
}

void PreviewContent::render() {
    renderTimer_.stop();
    if (!preview_) return;
    if (rowsStale_) {
        // A re-plan leaves each row where the user saw it.
        table_->setRows(keepingOrder(previewRows(*preview_), table_->rows()));
        rowsStale_ = false;
    }
    screen_ = previewScreen(host_.state(), preview_);
    title_->setText(text(screen_.title));
    subtitle_->setText(text(screen_.subtitle));
    subtitle_->setVisible(!screen_.subtitle.empty());
    banner_->setVisible(screen_.showsTestBanner);
    renderBody();

    shortfall_->setText(text(screen_.shortfall.value_or("")));
    shortfall_->setVisible(screen_.shortfall.has_value());
    askEveryTime_->setVisible(screen_.showsApprovalSwitch);
    {
        const QSignalBlocker blocker(askEveryTime_);
        askEveryTime_->setChecked(preview_->keepAsking());
    }
    closeButton_->setVisible(screen_.closeOnly);
    closeButton_->setDefault(screen_.closeOnly);
    // With nothing to approve, Return closes: Close takes the focus from the empty state's
    // buttons (which Return would press) as the page appears.
    if (screen_.closeOnly && !closeOnlyShown_) closeButton_->setFocus(Qt::OtherFocusReason);
    closeOnlyShown_ = screen_.closeOnly;
    notNow_->setVisible(!screen_.closeOnly);
    run_->setVisible(!screen_.closeOnly);
    run_->setDefault(!screen_.closeOnly);
    run_->setText(text(screen_.runTitle));
    run_->setEnabled(screen_.runEnabled);
    setPlainToolTip(run_, text(screen_.runHelp));
}

void PreviewContent::renderBody() {
    switch (screen_.body) {
        case PreviewScreen::Body::scanning:
            scanningText_->setText(text(screen_.scanningText));
            body_->setCurrentWidget(scanningPage_);
            return;
        case PreviewScreen::Body::table:
            body_->setCurrentWidget(tablePage_);
            return;
        default:
            break;
    }
    if (!empty_ || shownEmpty_ != screen_.empty) {
        delete empty_;
        const PreviewEmptyState& state = *screen_.empty;
        empty_ = new EmptyStateView(state.symbol, text(state.title), text(state.description), emptyPage_);
        for (const auto& [title, action] : state.buttons) {
            empty_->addButton(text(title), [this, action = action] { runAction(action); });
        }
        emptyLayout_->addWidget(empty_);
        empty_->show();
        shownEmpty_ = screen_.empty;
    }
    body_->setCurrentWidget(emptyPage_);
}

void PreviewContent::fillSkipped() {
    skippedList_->clear();
    const auto summary = preview_ && preview_->report() ? skippedSummary(*preview_->report()) : std::nullopt;
    skippedToggle_->setVisible(summary.has_value());
    if (!summary) {
        skippedToggle_->setChecked(false);
        return;
    }
    skippedToggle_->setText(text(*summary));
    QList<QTreeWidgetItem*> items;
    for (const SkippedItem& skipped : preview_->report()->skipped) {
        const SkippedTexts texts = skippedTexts(skipped, host_.state().home);
        auto* item = new QTreeWidgetItem({text(texts.name), text(texts.where), text(texts.reason)});
        item->setToolTip(0, toolTipText(fromPath(skipped.path)));
        items.push_back(item);
    }
    skippedList_->addTopLevelItems(items);
}

void PreviewContent::runAction(PreviewAction action) {
    switch (action) {
        case PreviewAction::openPreview: host_.openPreview(); break;
        case PreviewAction::showDriveFiles: host_.requestWindow(AppWindow::offloaded); break;
        case PreviewAction::chooseFilesToMove: host_.chooseFilesToMove(); break;
        case PreviewAction::showSystemData: host_.requestWindow(AppWindow::systemData); break;
    }
}

std::vector<std::string> PreviewContent::menuPaths(int row) const {
    if (row < 0 || row >= table_->rowCount()) return {};
    const std::string& path = table_->rowAt(row).candidate.path;
    if (selection().count(path)) return {selection().begin(), selection().end()};
    return {path};
}

void PreviewContent::keepOnThisComputer(const std::vector<std::string>& paths) {
    if (!preview_ || paths.empty()) return;
    host_.pin(paths);
    for (const std::string& path : paths) {
        if (preview_ && !preview_->excluded().count(path)) preview_->toggle(path);
    }
}

void PreviewContent::showMenu(const RowMenuRequest& request) {
    // By keyboard the menu acts on the selection, or on the current row when none is chosen.
    const std::vector<std::string> paths =
        request.clicked || selection().empty()
            ? menuPaths(request.clicked ? request.clicked->row() : view_->currentIndex().row())
            : std::vector<std::string>(selection().begin(), selection().end());
    if (paths.empty()) return;
    QMenu menu(this);
    menu.addAction(QStringLiteral("Always Keep on This Computer"), this, [this, paths] { keepOnThisComputer(paths); });
    menu.addAction(QStringLiteral("Show in Folder"), this, [this, paths] { host_.showItems(paths); });
    menu.exec(request.at);
}

void PreviewContent::approve() {
    if (!preview_) return;
    render();
    if (!screen_.runEnabled) return;
    // The model takes the approval before the window goes: closing then finds no open
    // preview, so an approved first run is never remembered as declined.
    QPointer<PreviewContent> self(this);
    host_.approvePreview(*preview_);
    if (self) close_();
}

}  // namespace keldwick
