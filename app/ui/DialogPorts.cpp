#include "ui/DialogPorts.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <algorithm>
#include <vector>

#include "model/MainThread.h"
#include "ui/FilePicker.h"
#include "ui/HiddenFilesToggle.h"
#include "ui/PlainText.h"

namespace keldwick {

namespace {

// The message above the dialog's own rows (Qt's dialog: a desktop's native one has no place
// for it). The grid has no insert, so every item moves down a row.
void showMessage(QFileDialog& dialog, const QString& message) {
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
    if (!grid) return;
    struct Placed {
        QLayoutItem* item;
        int row, column, rows, columns;
    };
    std::vector<Placed> placed;
    for (int i = grid->count() - 1; i >= 0; --i) {
        Placed p{};
        grid->getItemPosition(i, &p.row, &p.column, &p.rows, &p.columns);
        p.item = grid->takeAt(i);
        placed.push_back(p);
    }
    for (const Placed& p : placed) grid->addItem(p.item, p.row + 1, p.column, p.rows, p.columns);
    auto* label = new QLabel(message, &dialog);
    label->setObjectName(QStringLiteral("pickerMessage"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    grid->addWidget(label, 0, 0, 1, std::max(1, grid->columnCount()));
}

}  // namespace

std::optional<std::vector<std::string>> DialogFilePicker::pick(const PickRequest& request) {
    assertMainThread();
    std::unique_ptr<QFileDialog> dialog;
    if (request.files && request.folders) {
        dialog = std::make_unique<FilesOrFoldersDialog>(nullptr, QString(), request.startIn);
        if (!request.multiple) dialog->setFileMode(QFileDialog::ExistingFile);
    } else if (request.folders && request.multiple) {
        // Qt's folder mode takes one folder per pick: this one takes every folder selected.
        dialog = std::make_unique<FilesOrFoldersDialog>(nullptr, QString(), request.startIn, true,
                                                        request.hiddenFilesToggle);
    } else {
        dialog = std::make_unique<QFileDialog>(nullptr, QString(), fromPath(request.startIn));
        dialog->setOption(QFileDialog::DontUseNativeDialog, request.hiddenFilesToggle);
        dialog->setOption(QFileDialog::DontResolveSymlinks, true);
        if (request.folders) {
            dialog->setFileMode(QFileDialog::Directory);
            dialog->setOption(QFileDialog::ShowDirsOnly, true);
        } else {
            dialog->setFileMode(request.multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
        }
        // The toggle needs Qt's own dialog, which the option above asked for.
        if (request.hiddenFilesToggle) new HiddenFilesToggle(dialog.get());
    }
    if (!request.button.empty()) {
        const QString label = QString::fromStdString(request.button);
        if (auto* both = dynamic_cast<FilesOrFoldersDialog*>(dialog.get())) {
            both->setAcceptLabel(label);
        } else {
            dialog->setLabelText(QFileDialog::Accept, label);
        }
    }
    if (!request.title.empty()) dialog->setWindowTitle(QString::fromStdString(request.title));
    if (!request.message.empty()) showMessage(*dialog, QString::fromStdString(request.message));
    if (dialog->exec() != QDialog::Accepted) return std::nullopt;
    if (auto* both = dynamic_cast<FilesOrFoldersDialog*>(dialog.get())) return both->chosenPaths();
    std::vector<std::string> paths;
    for (const QString& file : dialog->selectedFiles()) paths.push_back(QFile::encodeName(file).toStdString());
    return paths;
}

void MessageBoxAlerts::present(const std::string& message, const std::string& informative) {
    assertMainThread();
    QMessageBox box;
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(message));
    box.setInformativeText(QString::fromStdString(informative));
    // The informative line has no format setting of its own; its label does.
    if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
        label->setTextFormat(Qt::PlainText);
    }
    box.setIcon(QMessageBox::Information);
    box.exec();
}

}  // namespace keldwick
