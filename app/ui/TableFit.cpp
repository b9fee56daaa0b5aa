#include "ui/TableFit.h"

#include <QHeaderView>
#include <QStyle>
#include <QTableView>

namespace keldwick {

void fitRowsToFont(QTableView* table) {
    QHeaderView* rows = table->verticalHeader();
    const int line = table->fontMetrics().height();
    // Icons in the rows are 16 pixels; a line of text needs its height and some air.
    rows->setMinimumSectionSize(std::max(line, 16) + 4);
    rows->setDefaultSectionSize(std::max(rows->defaultSectionSize(), std::max(line, 16) + 10));
}

void fitColumn(QTableView* table, int column, int minimum, const QStringList& samples, int extra) {
    const QFontMetrics metrics = table->fontMetrics();
    // A cell's text stands inside the focus frame's margin on either side.
    const int padding = 2 * (table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table) + 1) + 8;
    int widest = 0;
    for (const QString& sample : samples) widest = std::max(widest, metrics.horizontalAdvance(sample));
    // Nor narrower than the column's title.
    const QString title = table->model() ? table->model()->headerData(column, Qt::Horizontal).toString() : QString();
    const int titleWidth = table->horizontalHeader()->fontMetrics().horizontalAdvance(title) + 2 * padding;
    table->horizontalHeader()->resizeSection(column, std::max({minimum, widest + padding + extra, titleWidth}));
}

}  // namespace keldwick
