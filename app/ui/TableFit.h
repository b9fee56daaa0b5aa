#pragma once
// Tables sized by their font rather than by fixed pixels, so a larger desktop font grows
// the rows and widens the columns of short texts instead of cutting them.

#include <QStringList>

class QTableView;

namespace keldwick {

// Rows at least as high as a line of the table's font needs, with room around it.
void fitRowsToFont(QTableView* table);

// The column at least `minimum` pixels wide, and as wide as the widest of `samples` (the
// longest texts it shows) with the cell's padding and `extra` (an icon and its gap).
void fitColumn(QTableView* table, int column, int minimum, const QStringList& samples, int extra = 0);

}  // namespace keldwick
