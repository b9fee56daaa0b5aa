#include "preview/PreviewTable.h"

#include <QGuiApplication>
#include <QItemSelection>
#include <QPainter>
#include <QPalette>
#include <algorithm>

#include "ui/FileIcons.h"
#include "ui/PlainText.h"

namespace keldwick {

namespace {

QVariant secondaryText() { return QGuiApplication::palette().brush(QPalette::PlaceholderText); }

// The icon at half strength, for an excluded row.
QIcon dimmed(const QIcon& icon) {
    QIcon result;
    for (int side : {16, 32}) {
        QPixmap faded(side, side);
        faded.fill(Qt::transparent);
        QPainter painter(&faded);
        painter.setOpacity(0.5);
        painter.drawPixmap(0, 0, icon.pixmap(side, side));
        painter.end();
        result.addPixmap(faded);
    }
    return result;
}

}  // namespace

PreviewTable::PreviewTable(std::string home, Now now, Toggle toggle, QObject* parent)
    : QAbstractTableModel(parent), home_(std::move(home)), now_(std::move(now)), toggle_(std::move(toggle)) {}

void PreviewTable::setRows(std::vector<PreviewRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    texts_.assign(rows_.size(), std::nullopt);
    indexPaths();
    endResetModel();
}

const PreviewRow& PreviewTable::rowAt(int row) const { return shown(row); }

std::optional<int> PreviewTable::rowOf(const std::string& path) const {
    auto found = shownRow_.find(path);
    if (found == shownRow_.end()) return std::nullopt;
    return found->second;
}

std::vector<std::string> PreviewTable::pathsOf(const QModelIndexList& indexes) const {
    std::set<std::string> paths;
    for (const QModelIndex& index : indexes) {
        if (index.isValid() && index.model() == this && index.row() < rowCount()) {
            paths.insert(shown(index.row()).candidate.path);
        }
    }
    return {paths.begin(), paths.end()};
}

QItemSelection PreviewTable::selectionOf(const std::set<std::string>& paths) const {
    std::vector<int> rows;
    for (const std::string& path : paths) {
        if (auto row = rowOf(path)) rows.push_back(*row);
    }
    std::sort(rows.begin(), rows.end());
    // Neighbouring rows make one range, so a large selection stays small.
    QItemSelection selection;
    for (size_t i = 0; i < rows.size();) {
        size_t end = i;
        while (end + 1 < rows.size() && rows[end + 1] == rows[end] + 1) ++end;
        selection.select(index(rows[i], 0), index(rows[end], columnTotal - 1));
        i = end + 1;
    }
    return selection;
}

int PreviewTable::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int PreviewTable::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : columnTotal; }

const PreviewRowTexts& PreviewTable::texts(int row) const {
    std::optional<PreviewRowTexts>& cached = texts_[static_cast<size_t>(row)];
    if (!cached) cached = previewRowTexts(shown(row), home_, now_());
    return *cached;
}

QIcon PreviewTable::icon(const PreviewRow& row) const {
    const QString key = iconNamesForPath(row.candidate.path, row.candidate.isDirectory).join(QLatin1Char('|')) +
                        (row.included ? QString() : QStringLiteral("|dimmed"));
    auto found = icons_.find(key);
    if (found != icons_.end()) return *found;
    QIcon made = iconForPath(row.candidate.path, row.candidate.isDirectory);
    if (!row.included) made = dimmed(made);
    icons_.insert(key, made);
    return made;
}

QVariant PreviewTable::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnTotal) return {};
    const PreviewRow& row = shown(index.row());
    const Candidate& item = row.candidate;
    if (role == pathRole) return fromPath(item.path);
    switch (index.column()) {
        case toggleColumn:
            if (role == Qt::CheckStateRole) return row.included ? Qt::Checked : Qt::Unchecked;
            if (role == Qt::AccessibleTextRole) return QString::fromStdString(texts(index.row()).toggleLabel);
            return {};
        case nameColumn:
            if (role == Qt::DisplayRole) return QString::fromStdString(texts(index.row()).name);
            if (role == Qt::DecorationRole) return icon(row);
            if (role == Qt::ForegroundRole && !row.included) return secondaryText();
            if (role == Qt::ToolTipRole) return toolTipText(fromPath(item.path));
            return {};
        case whereColumn:
            if (role == Qt::DisplayRole) return QString::fromStdString(texts(index.row()).where);
            if (role == Qt::ForegroundRole) return secondaryText();
            return {};
        case sizeColumn:
            if (role == Qt::DisplayRole) return QString::fromStdString(texts(index.row()).size);
            if (role == Qt::TextAlignmentRole) return QVariant(Qt::AlignRight | Qt::AlignVCenter);
            return {};
        case lastUsedColumn:
            if (role == Qt::DisplayRole) return QString::fromStdString(texts(index.row()).lastUsed);
            return {};
    }
    return {};
}

bool PreviewTable::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.column() != toggleColumn || role != Qt::CheckStateRole) return false;
    const bool wanted = value.value<Qt::CheckState>() == Qt::Checked;
    const PreviewRow& row = shown(index.row());
    if (wanted == row.included) return false;
    // Copied: the toggle may re-plan and replace the rows before it returns.
    const std::string path = row.candidate.path;
    if (toggle_) toggle_(path);
    return true;
}

QVariant PreviewTable::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case nameColumn: return QStringLiteral("Name");
        case whereColumn: return QStringLiteral("Where");
        case sizeColumn: return QStringLiteral("Size");
        case lastUsedColumn: return QStringLiteral("Last used");
    }
    return QString();
}

Qt::ItemFlags PreviewTable::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == toggleColumn) flags |= Qt::ItemIsUserCheckable;
    return flags;
}

void PreviewTable::indexPaths() {
    shownRow_.clear();
    shownRow_.reserve(rows_.size());
    for (size_t row = 0; row < rows_.size(); ++row) shownRow_.emplace(rows_[row].candidate.path, int(row));
}

}  // namespace keldwick
