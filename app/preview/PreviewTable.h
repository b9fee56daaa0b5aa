#pragma once
// The preview's table: one row per planned item, then one per excluded item (see
// previewRows), with a tick box that excludes or re-includes the row's item. The rows
// keep that order: the plan's order is what the run would do, so the table offers no
// sorting. A row is known by its path; a re-plan replaces the rows (in the order they were
// shown: keepingOrder).

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
    static constexpr int pathRole = Qt::UserRole + 1;

    using Toggle = std::function<void(const std::string& path)>;
    using Now = std::function<Date()>;

    // `toggle` is called with a row's path when its tick box changes; the rows follow only
    // once setRows gets the new plan's rows. `home` names folders; `now` dates last uses.
    PreviewTable(std::string home, Now now, Toggle toggle, QObject* parent = nullptr);

    // Replaces every row (a reset).
    void setRows(std::vector<PreviewRow> rows);
    // The row at `row`, and every row in table order.
    const PreviewRow& rowAt(int row) const;
    const std::vector<PreviewRow>& rows() const { return rows_; }
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

private:
    const PreviewRow& shown(int row) const { return rows_[static_cast<size_t>(row)]; }
    const PreviewRowTexts& texts(int row) const;
    QIcon icon(const PreviewRow& row) const;
    void indexPaths();

    std::string home_;
    Now now_;
    Toggle toggle_;
    std::vector<PreviewRow> rows_;                               // the plan's order
    mutable std::vector<std::optional<PreviewRowTexts>> texts_;  // by row, made when first shown
    std::unordered_map<std::string, int> shownRow_;              // path -> row
    mutable QHash<QString, QIcon> icons_;
};

}  // namespace keldwick
