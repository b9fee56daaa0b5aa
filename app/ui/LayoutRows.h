#pragma once
// Lists the windows rebuild when their rows change.

#include <QBoxLayout>
#include <QWidget>

namespace keldwick {

// Takes every row out of `layout`. The widgets go once control returns to the event loop,
// so a row whose button started the rebuild outlives its own click.
inline void clearRows(QBoxLayout* layout) {
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
}

}  // namespace keldwick
