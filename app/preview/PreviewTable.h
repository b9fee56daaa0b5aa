#pragma once
// The preview's table: one row per planned item, then one per excluded item (see
// previewRows), with a tick box that excludes or re-includes the row's item. The table
// can be sorted by any column (sizes and dates as numbers, names as the locale orders
// them); without a sort column it keeps the plan's order. A row is known by its path:
// sorting keeps persistent indexes on their rows, and a re-plan replaces the rows.

#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/Date.h"
#include "preview/PreviewRows.h"

class QItemSelection;

namespace keldwick {

class PreviewTable final : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { toggleColumn, nameColumn, whereColumn, sizeColumn, lastUsedColumn, columnTotal };
    static constexpr int sortRole = Qt::UserRole;
    static constexpr int pathRole = Qt::UserRole + 1;

    using Toggle = std::function<void(const std::string& path)>;
    using Now = std::function<Date()>;

    // `toggle` is called with a row's path when its tick box changes; the rows follow only
    // once setRows gets the new plan's rows. `home` names folders; `now` dates last uses.
    PreviewTable(std::string home, Now now, Toggle toggle, QObject* parent = nullptr);

    // Replaces every row (a reset), keeping the current sort.
    void setRows(std::vector<PreviewRow> rows);
    // The row at `row` as shown now (sorted).
    const PreviewRow& rowAt(int row) const;
    std::optional<int> rowOf(const std::string& path) const;

    // The paths of the rows of `indexes`, each once, in path order.
    std::vector<std::string> pathsOf(const QModelIndexList& indexes) const;
    // Whole rows for those of `paths` that are in the table.
    QItemSelection selectionOf(const std::set<std::string>& paths) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // A column below 0 gives back the plan's order.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

private:
    const PreviewRow& shown(int row) const { return rows_[order_[row]]; }
    const PreviewRowTexts& texts(int row) const;
    QIcon icon(const PreviewRow& row) const;
    void applySort();
    void indexPaths();

    std::string home_;
    Now now_;
    Toggle toggle_;
    std::vector<PreviewRow> rows_;                             // the plan's order
    std::vector<size_t> order_;                                // shown row -> rows_ index
    mutable std::vector<std::optional<PreviewRowTexts>> texts_;  // by rows_ index, made when first shown
    std::unordered_map<std::string, int> shownRow_;            // path -> shown row
    mutable QHash<QString, QIcon> icons_;
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};

}  // namespace keldwick
