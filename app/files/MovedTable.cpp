#include "files/MovedTable.h"

#include <QColor>
#include <QPalette>
#include <utility>

#include "foundation/Formatting.h"
#include "foundation/ItemName.h"
#include "foundation/PathUtil.h"
#include "model/DisplayTexts.h"
#include "model/FreedMemory.h"
#include "ui/Brand.h"
#include "ui/FileIcons.h"
#include "ui/PlainText.h"
#include "ui/RelativeDate.h"
#include "ui/Symbols.h"

namespace keldwick {

QColor tintColor(Tint tint) {
    switch (tint) {
        case Tint::green: return QColor(0x28, 0xa7, 0x45);
        case Tint::orange: return brandOrange();
        case Tint::secondary: break;
    }
    return QPalette().color(QPalette::PlaceholderText);
}

MovedTable::MovedTable(std::string home, Now now, DriveStatusOf driveStatus, QObject* parent)
    : QAbstractTableModel(parent), home_(std::move(home)), now_(std::move(now)), driveStatus_(std::move(driveStatus)) {}

void MovedTable::setRows(RecordList records, std::vector<size_t> rows) {
    beginResetModel();
    // The list replaced may be the last holder of 100,000 records.
    releaseElsewhere(std::exchange(records_, std::move(records)));
    rows_ = std::move(rows);
    rowOf_.clear();
    endResetModel();
}

std::vector<int64_t> MovedTable::ids() const {
    std::vector<int64_t> ids;
    ids.reserve(rows_.size());
    for (size_t i : rows_) ids.push_back(records_[i].id);
    return ids;
}

std::set<int64_t> MovedTable::idsOf(const QModelIndexList& indexes) const {
    std::set<int64_t> ids;
    for (const auto& index : indexes)
        if (index.isValid() && index.row() < rowCount()) ids.insert(record(index.row()).id);
    return ids;
}

QItemSelection MovedTable::selectionOf(const std::set<int64_t>& ids) const {
    QItemSelection selection;
    if (ids.empty()) return selection;
    if (rowOf_.empty())
        for (size_t row = 0; row < rows_.size(); ++row) rowOf_[records_[rows_[row]].id] = static_cast<int>(row);
    for (int64_t id : ids) {
        auto found = rowOf_.find(id);
        if (found == rowOf_.end()) continue;
        selection.select(index(found->second, 0), index(found->second, columnTotal - 1));
    }
    return selection;
}

int MovedTable::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows();
}
int MovedTable::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : columnTotal; }

const MovedTable::Texts& MovedTable::texts(const OffloadRecord& record) const {
    auto found = texts_.find(record.id);
    if (found != texts_.end() && found->second.path == record.originalPath) return found->second;
    Texts t;
    t.path = record.originalPath;
    t.name = fromPath(ItemName::display(record.originalPath));
    t.where = fromPath(folderDisplayName(PathUtil::parent(record.originalPath), home_));
    t.size = QString::fromStdString(byteCountText(record.size));
    t.icon = iconForPath(record.originalPath, record.isDirectory);
    return texts_[record.id] = std::move(t);
}

QVariant MovedTable::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const OffloadRecord& record = this->record(index.row());
    if (role == idRole) return QVariant::fromValue<qint64>(record.id);
    const int column = index.column();
    if (column == statusColumn) {
        if (role != Qt::DisplayRole && role != Qt::DecorationRole && role != Qt::ForegroundRole &&
            role != Qt::ToolTipRole)
            return {};
        const DriveStatus drive = driveStatus_(record);
        const StatusLabel label = statusLabel(record.phase, drive.name, drive.connected, drive.refusal);
        switch (role) {
            case Qt::DisplayRole: return QString::fromStdString(label.title);
            case Qt::DecorationRole: return Symbols::drawn(label.symbol, tintColor(label.tint));
            case Qt::ForegroundRole: return tintColor(label.tint);
            default: return toolTipText(QString::fromStdString(label.help));
        }
    }
    switch (role) {
        case Qt::DisplayRole:
            switch (column) {
                case nameColumn: return texts(record).name;
                case whereColumn: return texts(record).where;
                case sizeColumn: return texts(record).size;
                case movedColumn: return QString::fromStdString(relativeDateText(record.createdAt, now_()));
            }
            return {};
        case Qt::DecorationRole:
            return column == nameColumn ? QVariant(texts(record).icon) : QVariant();
        case Qt::ToolTipRole:
            return column == nameColumn ? toolTipText(fromPath(record.originalPath)) : QVariant();
        case Qt::ForegroundRole:
            return column == whereColumn ? QVariant(tintColor(Tint::secondary)) : QVariant();
        case Qt::TextAlignmentRole:
            return column == sizeColumn ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    }
    return {};
}

QVariant MovedTable::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* const titles[] = {"Name", "Where", "Size", "Moved", "Status"};
    return section >= 0 && section < columnTotal ? QString::fromLatin1(titles[section]) : QVariant();
}

}  // namespace keldwick
