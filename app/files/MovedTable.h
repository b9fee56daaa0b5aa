#pragma once
// The moved list's table: one row per listed record (see listedRecords), known by its id.
// Texts are made when a row is first drawn and kept by id while the record's path and
// phase stay, so a refresh of thousands of records costs little.

#include <QAbstractTableModel>
#include <QColor>
#include <QIcon>
#include <QItemSelection>
#include <functional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "files/MovedRows.h"
#include "foundation/Date.h"

namespace keldwick {

// The colour a status is drawn in.
QColor tintColor(Tint tint);

class MovedTable final : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { nameColumn, whereColumn, sizeColumn, movedColumn, statusColumn, columnTotal };
    static constexpr int idRole = Qt::UserRole;
    using Now = std::function<Date()>;

    MovedTable(std::string home, Now now, DriveStatusOf driveStatus, QObject* parent = nullptr);

    // Replaces every row (a reset).
    void setRecords(std::vector<OffloadRecord> records);
    const std::vector<OffloadRecord>& records() const { return records_; }
    // The ids of `indexes`' rows, each once.
    std::set<int64_t> idsOf(const QModelIndexList& indexes) const;
    // Whole rows for those of `ids` that are listed.
    QItemSelection selectionOf(const std::set<int64_t>& ids) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    struct Texts {
        std::string path;
        QString name, where, size;
        QIcon icon;
    };
    const Texts& texts(const OffloadRecord& record) const;

    std::string home_;
    Now now_;
    DriveStatusOf driveStatus_;
    std::vector<OffloadRecord> records_;
    std::unordered_map<int64_t, int> rowOf_;
    mutable std::unordered_map<int64_t, Texts> texts_;
};

}  // namespace keldwick
