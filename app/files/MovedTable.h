#pragma once
// The moved list's table: one row per listed record (see listedRows), known by its id. The
// rows are positions in the model's own list of records, which the table shares rather
// than copies. Texts are made when a row is first drawn and kept by id while the record's
// path stays, so a refresh of thousands of records costs little.

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
#include "model/RecordList.h"

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

    // Replaces every row (a reset): the rows are `rows`' positions in `records`.
    void setRows(RecordList records, std::vector<size_t> rows);
    // Whether the table shows exactly these rows of this very list.
    bool shows(const RecordList& records, const std::vector<size_t>& rows) const {
        return records_.sharesWith(records) && rows_ == rows;
    }
    int rows() const { return static_cast<int>(rows_.size()); }
    const OffloadRecord& record(int row) const { return records_[rows_[static_cast<size_t>(row)]]; }
    // The shown records' ids, in row order.
    std::vector<int64_t> ids() const;
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
    RecordList records_;
    std::vector<size_t> rows_;
    mutable std::unordered_map<int64_t, int> rowOf_;  // made at the first look-up after a reset
    mutable std::unordered_map<int64_t, Texts> texts_;
};

}  // namespace keldwick
