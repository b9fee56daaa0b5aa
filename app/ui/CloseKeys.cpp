#include "ui/CloseKeys.h"

#include <QDialog>
#include <QKeySequence>
#include <QShortcut>

namespace keldwick {

void closeOnEscapeOrCtrlW(QWidget* window) {
    for (const QKeySequence& keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        auto* shortcut = new QShortcut(keys, window);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, window, [window] {
            if (auto* dialog = qobject_cast<QDialog*>(window)) {
                dialog->reject();
            } else {
                window->close();
            }
        });
    }
}

}  // namespace keldwick
