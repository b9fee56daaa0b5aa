#include "systemdata/SystemDataWindow.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "systemdata/SystemDataHost.h"
#include "ui/LayoutRows.h"
#include "ui/PlainText.h"
#include "ui/Symbols.h"

namespace keldwick {

namespace {

QString text(const std::string& value) { return QString::fromStdString(value); }

// A short, thin busy bar: a square one reads as a ticked box.
QProgressBar* smallSpinner(QWidget* parent) {
    auto* spinner = new QProgressBar(parent);
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedSize(36, 6);
    return spinner;
}

QWidget* loadingRow(QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(smallSpinner(row));
    layout->addWidget(secondaryLabel(QString::fromUtf8(kAddingUp), row));
    layout->addStretch();
    return row;
}

// Name over subtitle, the size at the right end.
QWidget* itemBlock(const std::string& name, const std::string& subtitle, const std::string& size, QWidget* parent) {
    auto* block = new QWidget(parent);
    auto* row = new QHBoxLayout(block);
    row->setContentsMargins(0, 3, 0, 3);
    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    column->addWidget(plainLabel(text(name), block));
    column->addWidget(secondaryLabel(text(subtitle), block, false, true));
    row->addLayout(column, 1);
    QLabel* sizeLabel = secondaryLabel(text(size), block);
    sizeLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row->addWidget(sizeLabel);
    return block;
}

QWidget* sectionHeader(const QString& title, QLabel*& titleLabel, QLabel*& subtitleLabel, QWidget* control,
                       QWidget* parent) {
    auto* header = new QWidget(parent);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 4, 0, 4);
    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    titleLabel = plainLabel(title, header);
    QFont bold = titleLabel->font();
    bold.setBold(true);
    titleLabel->setFont(bold);
    subtitleLabel = secondaryLabel(QString(), header, false, true);
    column->addWidget(titleLabel);
    column->addWidget(subtitleLabel);
    row->addLayout(column, 1);
    if (control) row->addWidget(control, 0, Qt::AlignTop);
    return header;
}

bool askWithMessageBox(QWidget* window, const QString& title) {
    QMessageBox box(QMessageBox::Warning, title, title, QMessageBox::NoButton, window);
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(QString::fromUtf8(kDeleteMessage));
    QPushButton* remove = box.addButton(QString::fromUtf8(kDeleteAction), QMessageBox::DestructiveRole);
    box.addButton(QMessageBox::Cancel);
    box.exec();
    return box.clickedButton() == remove;
}

}  // namespace

SystemDataWindow::SystemDataWindow(SystemDataHost& host, Confirm confirm, QWidget* parent)
    : QWidget(parent, Qt::Window), host_(host), confirm_(confirm ? std::move(confirm) : askWithMessageBox) {
    setWindowTitle(WindowRegistry::titleOf(AppWindow::systemData));
    setAttribute(Qt::WA_DeleteOnClose);
    setMinimumSize(defaultWidth, defaultHeight);
    resize(defaultWidth, defaultHeight);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(createSections(), 1);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    outer->addWidget(divider);

    outer->addWidget(createFooter());

    connect(&host_, &SystemDataHost::stateChanged, this, &SystemDataWindow::render);
    render();
    load();
}

// The caches to clear, then the system data that could move, scrolled together.
QWidget* SystemDataWindow::createSections() {
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    // The sections scroll to the control Tab reaches; the area itself is no stop.
    scroll->setFocusPolicy(Qt::NoFocus);
    auto* list = new QWidget(scroll);
    auto* sections = new QVBoxLayout(list);
    sections->setContentsMargins(14, 10, 14, 10);

    clear_ = new QPushButton(list);
    connect(clear_, &QPushButton::clicked, this, &SystemDataWindow::clearChosen);
    QLabel* cachesTitle = nullptr;
    QLabel* cachesSubtitle = nullptr;
    sections->addWidget(sectionHeader(QString::fromUtf8(kCachesTitle), cachesTitle, cachesSubtitle, clear_, list));
    cachesSubtitle->setText(QString::fromUtf8(kCachesSubtitle));
    cachesLoading_ = loadingRow(list);
    sections->addWidget(cachesLoading_);
    noCaches_ = secondaryLabel(QString::fromUtf8(kNoCaches), list);
    sections->addWidget(noCaches_);
    cacheRows_ = new QVBoxLayout;
    sections->addLayout(cacheRows_);

    sections->addSpacing(12);
    sections->addWidget(sectionHeader(QString(), movableTitle_, movableSubtitle_, nullptr, list));
    movableLoading_ = loadingRow(list);
    sections->addWidget(movableLoading_);
    nothingToMove_ = secondaryLabel(QString::fromUtf8(kNothingToMove), list);
    sections->addWidget(nothingToMove_);
    movableRows_ = new QVBoxLayout;
    sections->addLayout(movableRows_);
    sections->addStretch();
    scroll->setWidget(list);
    return scroll;
}

// What runs, with its spinner.
QWidget* SystemDataWindow::createFooter() {
    auto* footer = new QWidget(this);
    auto* footerRow = new QHBoxLayout(footer);
    footerRow->setContentsMargins(14, 14, 14, 14);
    footer->setMinimumHeight(20 + 28);
    spinner_ = smallSpinner(footer);
    footerRow->addWidget(spinner_);
    footer_ = secondaryLabel(QString(), footer);
    footer_->setWordWrap(true);
    footer_->setMaximumHeight(footer_->fontMetrics().lineSpacing() * 2);
    footerRow->addWidget(footer_, 1);
    return footer;
}

void SystemDataWindow::load() {
    QPointer<SystemDataWindow> self(this);
    host_.cacheLocations([self](std::vector<CacheLocation> locations) {
        if (!self) return;
        self->view_.chosen.clear();
        for (const CacheLocation& location : locations) {
            if (location.selectedByDefault) self->view_.chosen.insert(location.name);
        }
        self->view_.caches = std::move(locations);
        // The caches come first even when the search ended sooner.
        if (self->pendingMovable_) {
            self->view_.movable = std::move(self->pendingMovable_);
            self->pendingMovable_.reset();
        }
        self->render();
    });
    host_.findMovable([self](std::vector<MovableData> items) {
        if (self) self->storeMovable(std::move(items));
    });
}

void SystemDataWindow::storeMovable(std::vector<MovableData> items) {
    if (!view_.caches) {
        pendingMovable_ = std::move(items);
        return;
    }
    view_.movable = std::move(items);
    render();
}

void SystemDataWindow::render() {
    const SystemDataScreen screen = systemDataScreen(host_.state(), view_, host_.now());
    clear_->setText(text(screen.clearTitle));
    clear_->setEnabled(screen.clearEnabled);
    cachesLoading_->setVisible(screen.cachesLoading);
    noCaches_->setVisible(screen.noCaches);
    if (screen.caches.size() != shownCaches_.size() ||
        !std::equal(screen.caches.begin(), screen.caches.end(), shownCaches_.begin(),
                    [](const CacheRow& a, const CacheRow& b) {
                        return a.name == b.name && a.note == b.note && a.sizeText == b.sizeText;
                    })) {
        rebuildCaches(screen.caches);
    }
    for (size_t i = 0; i < screen.caches.size(); ++i) {
        QSignalBlocker quiet(cacheBoxes_[i]);
        cacheBoxes_[i]->setChecked(screen.caches[i].ticked);
    }

    movableTitle_->setText(text(screen.movableTitle));
    movableSubtitle_->setText(text(screen.movableSubtitle));
    movableLoading_->setVisible(screen.movableLoading);
    nothingToMove_->setVisible(screen.nothingToMove);
    auto sameItem = [](const MovableRow& a, const MovableRow& b) {
        return a.path == b.path && a.name == b.name && a.subtitle == b.subtitle && a.sizeText == b.sizeText;
    };
    if (screen.movable.size() != shownMovable_.size() ||
        !std::equal(screen.movable.begin(), screen.movable.end(), shownMovable_.begin(), sameItem)) {
        rebuildMovable(screen.movable);
    }
    for (size_t i = 0; i < screen.movable.size(); ++i) moveButtons_[i]->setEnabled(screen.movable[i].moveEnabled);

    spinner_->setVisible(screen.showsProgress);
    footer_->setText(text(screen.footer));
}

void SystemDataWindow::rebuildCaches(const std::vector<CacheRow>& rows) {
    clearRows(cacheRows_);
    cacheBoxes_.clear();
    for (const CacheRow& row : rows) {
        auto* line = new QWidget;
        auto* layout = new QHBoxLayout(line);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* box = new QCheckBox(line);
        box->setAccessibleName(text(row.name));
        const std::string name = row.name;
        connect(box, &QCheckBox::toggled, this, [this, name](bool on) {
            if (on) {
                view_.chosen.insert(name);
            } else {
                view_.chosen.erase(name);
            }
            render();
        });
        layout->addWidget(box);
        layout->addWidget(itemBlock(row.name, row.note, row.sizeText, line), 1);
        cacheRows_->addWidget(line);
        cacheBoxes_.push_back(box);
    }
    shownCaches_ = rows;
}

bool SystemDataWindow::isAppFiles(const std::string& path) const {
    if (!view_.movable) return false;
    for (const MovableData& item : *view_.movable) {
        if (item.path == path) return item.kind == MovableData::Kind::appFiles;
    }
    return false;
}

void SystemDataWindow::rebuildMovable(const std::vector<MovableRow>& rows) {
    clearRows(movableRows_);
    moveButtons_.clear();
    for (const MovableRow& row : rows) {
        auto* line = new QWidget;
        auto* layout = new QHBoxLayout(line);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(10);
        auto* icon = new QLabel(line);
        icon->setFixedSize(28, 28);
        // App files show their app's icon, filling the frame; everything else its symbol.
        const QIcon appIcon = isAppFiles(row.path) ? host_.appIcon(row.name) : QIcon();
        icon->setPixmap(appIcon.isNull() ? Symbols::icon(row.symbol).pixmap(24, 24) : appIcon.pixmap(28, 28));
        icon->setAlignment(Qt::AlignCenter);
        layout->addWidget(icon);
        layout->addWidget(itemBlock(row.name, row.subtitle, row.sizeText, line), 1);
        auto* button = new QPushButton(QStringLiteral("Move"), line);
        // Every row's button reads "Move": a screen reader says which item it moves.
        button->setAccessibleName(QStringLiteral("Move ") + text(row.name));
        const std::string path = row.path;
        connect(button, &QPushButton::clicked, this, [this, path] { move(path); });
        layout->addWidget(button);
        movableRows_->addWidget(line);
        moveButtons_.push_back(button);
    }
    shownMovable_ = rows;
}

void SystemDataWindow::clearChosen() {
    if (chosenBytes(view_) == 0 || view_.working) return;
    // The question names what clearing would free now, not when the window opened: the
    // caches are measured again first.
    view_.working = kAddingUp;
    render();
    QPointer<SystemDataWindow> self(this);
    host_.cacheLocations([self](std::vector<CacheLocation> locations) {
        if (!self) return;
        self->view_.working.reset();
        self->view_.caches = std::move(locations);
        self->render();
        self->askAndClear();
    });
}

void SystemDataWindow::askAndClear() {
    // Nothing ticked holds anything now: the rows say so, and nothing is asked.
    if (chosenBytes(view_) == 0 || view_.working) return;
    if (!confirm_(this, text(systemDataScreen(host_.state(), view_, host_.now()).confirmTitle))) return;
    if (view_.working || !view_.caches) return;
    std::vector<CacheLocation> chosen;
    for (const CacheLocation& location : *view_.caches) {
        if (view_.chosen.count(location.name)) chosen.push_back(location);
    }
    view_.working = kClearingCaches;
    render();
    QPointer<SystemDataWindow> self(this);
    host_.clearCaches(std::move(chosen), [self](CacheClearing result) {
        if (!self) return;
        self->view_.working.reset();
        self->view_.message = clearedMessage(result.freed, result.kept);
        self->render();
        // Only the caches are measured again; the ticks stay as they were.
        self->host_.cacheLocations([self](std::vector<CacheLocation> locations) {
            if (!self) return;
            self->view_.caches = std::move(locations);
            self->render();
        });
    });
}

void SystemDataWindow::move(const std::string& path) {
    if (!view_.movable || !canMove(host_.state(), view_)) return;
    auto found = std::find_if(view_.movable->begin(), view_.movable->end(),
                              [&](const MovableData& item) { return item.path == path; });
    if (found == view_.movable->end() || found->openIn) return;
    const MovableData item = *found;
    view_.working = movingText(item, host_.state());
    render();
    QPointer<SystemDataWindow> self(this);
    host_.moveToDrive({item.path}, [self, item](std::optional<std::string> returned) {
        if (!self) return;
        self->view_.working.reset();
        const ModelState& state = self->host_.state();
        const MoveOutcome outcome = moveOutcome(item, state, linksIntoDrive(item.path, state.driveRoot), returned);
        self->view_.message = outcome.message;
        if (outcome.moved) removeMovable(self->view_, item.path);
        self->render();
    });
}

WindowRegistry::Entry systemDataWindowEntry(SystemDataHost& host) {
    return {WindowRegistry::titleOf(AppWindow::systemData), QSize(SystemDataWindow::defaultWidth, SystemDataWindow::defaultHeight),
            [&host] { return new SystemDataWindow(host); }};
}

}  // namespace keldwick
