#pragma once
// The drive browser's table over the visible items of the shown folder, in the listing's
// order. Rows are known by path; dragging rows out offers their file URLs, as copies.

#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>
#include <set>
#include <string>
#include <vector>

#include "drives/DriveBrowser.h"

namespace keldwick {

class DriveTable final : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { nameColumn, modifiedColumn, sizeColumn, kindColumn, columnTotal };
    static constexpr int pathRole = Qt::UserRole;

    using QAbstractTableModel::QAbstractTableModel;

    void setItems(std::vector<DriveItem> items);
    const std::vector<DriveItem>& items() const { return items_; }
    std::set<std::string> pathsOf(const QModelIndexList& indexes) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }

    // "Folder" for a folder, else the type's description, else "Document".
    static QString kindText(const DriveItem& item);

private:
    std::vector<DriveItem> items_;
    mutable QHash<QString, QIcon> icons_;  // by MIME-relevant name
};

}  // namespace keldwick
