#include "files/DriveTable.h"

#include <QMimeData>
#include <QMimeDatabase>
#include <QUrl>

#include "files/MovedTable.h"
#include "foundation/Formatting.h"
#include "ui/FileIcons.h"
#include "ui/FileManager.h"
#include "ui/PlainText.h"
#include "ui/RelativeDate.h"

namespace keldwick {

void DriveTable::setItems(std::vector<DriveItem> items) {
    beginResetModel();
    items_ = std::move(items);
    endResetModel();
}

std::set<std::string> DriveTable::pathsOf(const QModelIndexList& indexes) const {
    std::set<std::string> paths;
    for (const auto& index : indexes)
        if (index.isValid() && index.row() < rowCount()) paths.insert(items_[index.row()].path);
    return paths;
}

int DriveTable::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(items_.size());
}
int DriveTable::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : columnTotal; }

QString DriveTable::kindText(const DriveItem& item) {
    if (item.isFolder) return QStringLiteral("Folder");
    const QMimeType type = QMimeDatabase().mimeTypeForFile(fromPath(item.name()), QMimeDatabase::MatchExtension);
    if (type.isDefault() || type.comment().isEmpty()) return QStringLiteral("Document");
    return type.comment();
}

QVariant DriveTable::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const DriveItem& item = items_[index.row()];
    if (role == pathRole) return fromPath(item.path);
    switch (role) {
        case Qt::DisplayRole:
            switch (index.column()) {
                case nameColumn: return fromPath(item.name());
                case modifiedColumn:
                    return QString::fromStdString(abbreviatedDateText(item.modified, true));
                case sizeColumn:
                    // A folder's size is left blank: a dash beside its kind would read as "— Folder".
                    if (item.isFolder) return QString();
                    return item.size ? QString::fromStdString(byteCountText(*item.size)) : QStringLiteral("\u2014");
                case kindColumn: return kindText(item);
            }
            return {};
        case Qt::DecorationRole: {
            if (index.column() != nameColumn) return {};
            const QString key = item.isFolder ? QStringLiteral("/") : fromPath(item.name()).section('.', -1);
            auto found = icons_.find(key);
            if (found == icons_.end()) found = icons_.insert(key, iconForPath(item.path, item.isFolder));
            return *found;
        }
        case Qt::ToolTipRole:
            return index.column() == nameColumn ? toolTipText(fromPath(item.name())) : QVariant();
        case Qt::ForegroundRole:
            return index.column() == nameColumn ? QVariant() : QVariant(tintColor(Tint::secondary));
        case Qt::TextAlignmentRole:
            return index.column() == sizeColumn ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    }
    return {};
}

QVariant DriveTable::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* const titles[] = {"Name", "Date Modified", "Size", "Kind"};
    return section >= 0 && section < columnTotal ? QString::fromLatin1(titles[section]) : QVariant();
}

Qt::ItemFlags DriveTable::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

QStringList DriveTable::mimeTypes() const { return {QStringLiteral("text/uri-list")}; }

QMimeData* DriveTable::mimeData(const QModelIndexList& indexes) const {
    QList<QUrl> urls;
    std::set<int> rows;
    for (const auto& index : indexes)
        if (index.isValid() && index.row() < rowCount()) rows.insert(index.row());
    for (int row : rows) urls.push_back(FileManager::urlFor(items_[row].path));
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
}

}  // namespace keldwick
