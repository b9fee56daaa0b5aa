#include "preview/PreviewSelection.h"

#include <QItemSelectionModel>

#include "preview/PreviewTable.h"

namespace keldwick {

PreviewSelection::PreviewSelection(PreviewTable* table, QItemSelectionModel* selection, QObject* parent)
    : QObject(parent), table_(table), selection_(selection) {
    connect(selection_, &QItemSelectionModel::selectionChanged, this, [this] {
        if (restoring_) return;
        const auto rows = table_->pathsOf(selection_->selectedRows());
        paths_ = {rows.begin(), rows.end()};
    });
    // The selection model drops its selection on a reset before this runs.
    connect(table_, &PreviewTable::modelAboutToBeReset, this, [this] {
        restoring_ = true;
        const QModelIndex current = selection_->currentIndex();
        current_.reset();
        if (current.isValid() && current.row() < table_->rowCount()) {
            current_ = table_->rowAt(current.row()).candidate.path;
            currentColumn_ = current.column();
        }
    });
    connect(table_, &PreviewTable::modelReset, this, [this] { restore(); });
}

void PreviewSelection::restore() {
    std::set<std::string> kept;
    for (const std::string& path : paths_) {
        if (table_->rowOf(path)) kept.insert(path);
    }
    paths_ = std::move(kept);
    selection_->select(table_->selectionOf(paths_), QItemSelectionModel::ClearAndSelect);
    // The cursor stays on its row, so the next key acts where the user left off.
    if (current_) {
        if (auto row = table_->rowOf(*current_)) {
            selection_->setCurrentIndex(table_->index(*row, currentColumn_), QItemSelectionModel::NoUpdate);
        }
    }
    restoring_ = false;
}

}  // namespace keldwick
