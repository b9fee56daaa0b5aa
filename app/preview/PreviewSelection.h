#pragma once
// The table's selection and its current row held as the rows' paths, so they survive a
// re-plan, which replaces every row: after each reset the rows whose paths were selected
// are selected again, the cursor goes back to its row (and column), and paths no longer in
// the table are forgotten.

#include <QObject>
#include <optional>
#include <set>
#include <string>

class QItemSelectionModel;

namespace keldwick {

class PreviewTable;

class PreviewSelection final : public QObject {
    Q_OBJECT

public:
    // `selection` must select in `table`; both outlive this object.
    PreviewSelection(PreviewTable* table, QItemSelectionModel* selection, QObject* parent = nullptr);

    const std::set<std::string>& paths() const { return paths_; }

private:
    void restore();

    PreviewTable* table_;
    QItemSelectionModel* selection_;
    std::set<std::string> paths_;
    std::optional<std::string> current_;
    int currentColumn_ = 0;
    bool restoring_ = false;
};

}  // namespace keldwick
