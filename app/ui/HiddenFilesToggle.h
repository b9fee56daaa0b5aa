#pragma once
// A "Show hidden files" checkbox for the program's file dialogs: checking it lists the
// entries whose names begin with a dot.

#include <QObject>
#include <QPointer>

class QCheckBox;
class QFileDialog;
class QWidget;

namespace keldwick {

class HiddenFilesToggle final : public QObject {
    Q_OBJECT

public:
    // Puts the checkbox (in a 220 × 36 view) below the dialog's own controls, so the
    // dialog uses Qt's own widgets. The toggle belongs to the dialog and lives as long
    // as it. Main thread only.
    explicit HiddenFilesToggle(QFileDialog* panel);

    QWidget* view() const { return view_; }
    QCheckBox* checkbox() const { return checkbox_; }

public slots:
    // Shows hidden entries when `on`; nothing once the dialog is gone.
    void toggle(bool on);

private:
    QPointer<QFileDialog> panel_;
    QWidget* view_;
    QCheckBox* checkbox_;
};

}  // namespace keldwick
