#include "settings/FoldersTab.h"

#include <QHBoxLayout>
#include <algorithm>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "foundation/PathUtil.h"
#include "settings/SettingsHost.h"
#include "ui/LayoutRows.h"
#include "ui/PlainText.h"
#include "ui/Symbols.h"

namespace keldwick {

namespace {

QString text(const std::string& value) { return QString::fromStdString(value); }

QLabel* symbolLabel(const std::string& symbol, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setPixmap(Symbols::icon(symbol).pixmap(16, 16));
    label->setFixedWidth(20);
    label->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    return label;
}

// The borderless minus button; its row's text is its name and tooltip.
QToolButton* removeButton(const std::string& what, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setIcon(Symbols::icon("minus"));
    button->setAccessibleName(text(what));
    setPlainToolTip(button, text(what));
    return button;
}

// Symbol, a column of texts, and the remove button at the right end.
QWidget* listRow(const std::string& symbol, QWidget* column, QToolButton* remove, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(symbolLabel(symbol, row), 0, Qt::AlignTop);
    layout->addWidget(column, 1);
    layout->addWidget(remove, 0, Qt::AlignVCenter);
    return row;
}

// The row's texts, one above the other.
QWidget* textColumn(int spacing, QVBoxLayout*& texts, QWidget* parent) {
    auto* column = new QWidget(parent);
    texts = new QVBoxLayout(column);
    texts->setContentsMargins(0, 0, 0, 0);
    texts->setSpacing(spacing);
    return column;
}

}  // namespace

FoldersTab::FoldersTab(SettingsHost& host, QWidget* parent) : QWidget(parent), host_(host) {
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(16);

    folders_ = formSection(QStringLiteral("Look for old files in"), this);
    folderRows_ = new QVBoxLayout;
    folderRows_->setSpacing(6);
    folders_.body->addLayout(folderRows_);
    noFolders_ = warningLabel(QString::fromUtf8(kNoFolders), this);
    folders_.body->addWidget(noFolders_);
    addFolder_ = new QPushButton(QStringLiteral("Add Folder\u2026"), this);
    folders_.body->addWidget(addFolder_, 0, Qt::AlignLeft);
    layout->addWidget(folders_.widget);

    pins_ = formSection(QStringLiteral("Always keep on this computer"), this);
    pinRows_ = new QVBoxLayout;
    pinRows_->setSpacing(6);
    pins_.body->addLayout(pinRows_);
    noPins_ = secondaryLabel(QString::fromUtf8(kNoPins), this, true);
    pins_.body->addWidget(noPins_);
    pinProblem_ = warningLabel(QString(), this);
    pinProblem_->hide();
    pins_.body->addWidget(pinProblem_);
    addPin_ = new QPushButton(QStringLiteral("Add Files or Folders\u2026"), this);
    pins_.body->addWidget(addPin_, 0, Qt::AlignLeft);
    setFooter(pins_, QStringLiteral("Keldwick never moves these, or anything inside these folders."));
    layout->addWidget(pins_.widget);

    FormSection never = formSection(QString::fromUtf8(kNeverMovedTitle), this);
    for (const NeverMovedRow& row : neverMovedRows()) {
        auto* line = new QHBoxLayout;
        line->addWidget(symbolLabel(row.symbol, this), 0, Qt::AlignTop);
        line->addWidget(plainLabel(text(row.text), this, true), 1);
        never.body->addLayout(line);
    }
    layout->addWidget(never.widget);
    layout->addStretch();

    connect(addFolder_, &QPushButton::clicked, this, &FoldersTab::addFolders);
    connect(addPin_, &QPushButton::clicked, this, &FoldersTab::addPins);
    connect(&host_, &SettingsHost::stateChanged, this, &FoldersTab::render);
    render();
}

// At least 560 high, asked for rather than imposed: the window fits the tab shown, and a
// minimum height would hold it this tall on every tab.
QSize FoldersTab::sizeHint() const {
    QSize size = QWidget::sizeHint();
    size.setHeight(std::max(size.height(), 560));
    return size;
}

void FoldersTab::render() {
    FoldersScreen screen = foldersScreen(host_.state(), host_.scanRules());
    if (shown_ == screen) return;
    rebuildRows(screen);
    noFolders_->setVisible(screen.noFolders);
    noPins_->setVisible(screen.noPins);
    setFooter(folders_, text(screen.foldersFooter));
    shown_ = std::move(screen);
}

void FoldersTab::rebuildRows(const FoldersScreen& screen) {
    clearRows(folderRows_);
    for (const FolderRow& row : screen.folders) {
        QVBoxLayout* texts = nullptr;
        QWidget* column = textColumn(2, texts, this);
        texts->addWidget(plainLabel(fromPath(row.title), column));
        if (row.problem) texts->addWidget(warningLabel(fromPath(*row.problem), column));
        QToolButton* remove = removeButton(row.removeText, this);
        connect(remove, &QToolButton::clicked, this, [this, path = row.path] { removeFolder(path); });
        folderRows_->addWidget(listRow("folder", column, remove, this));
    }
    clearRows(pinRows_);
    for (const PinRow& row : screen.pins) {
        QVBoxLayout* texts = nullptr;
        QWidget* column = textColumn(1, texts, this);
        texts->addWidget(plainLabel(fromPath(row.name), column));
        texts->addWidget(secondaryLabel(fromPath(row.place), column, true, true));
        QToolButton* remove = removeButton(row.removeText, this);
        connect(remove, &QToolButton::clicked, this, [this, path = row.path] { removePin(path); });
        pinRows_->addWidget(listRow(row.symbol, column, remove, this));
    }
}

// The open panel over the home folder, several items at once.
std::optional<std::vector<std::string>> FoldersTab::pickInHome(bool files, const char* button, const char* message) {
    PickRequest request;
    request.folders = true;
    request.files = files;
    request.multiple = true;
    request.startIn = host_.state().home;
    request.button = button;
    request.message = message;
    return host_.pick(request);
}

void FoldersTab::addFolders() {
    const auto chosen = pickInHome(false, "Add", "Choose folders where Keldwick should look for old files.");
    if (!chosen) return;
    std::vector<std::string> paths;
    for (const std::string& path : *chosen) paths.push_back(PathUtil::canonical(path).value_or(path));
    host_.updateSettings(SettingsChanges::appendManagedFolders(std::move(paths)));
}

void FoldersTab::addPins() {
    const auto chosen = pickInHome(true, "Keep on This Computer", "Choose files or folders Keldwick should never move.");
    if (!chosen) return;
    host_.pin(*chosen);
}

void FoldersTab::removeFolder(const std::string& path) {
    host_.updateSettings(SettingsChanges::removeManagedFolder(path));
}

void FoldersTab::removePin(const std::string& path) {
    const auto problem = host_.unpin(path);
    pinProblem_->setText(problem ? QString::fromStdString(*problem) : QString());
    pinProblem_->setVisible(problem.has_value());
}

}  // namespace keldwick
