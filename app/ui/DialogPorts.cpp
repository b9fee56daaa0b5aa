#include "ui/DialogPorts.h"

#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>

#include "desktop/HiddenFilesToggle.h"
#include "desktop/MainThread.h"
#include "ui/FilePicker.h"
#include "ui/PlainText.h"

namespace keldwick {

std::optional<std::vector<std::string>> DialogFilePicker::pick(const PickRequest& request) {
    assertMainThread();
    std::unique_ptr<QFileDialog> dialog;
    if (request.files && request.folders) {
        dialog = std::make_unique<FilesOrFoldersDialog>(nullptr, QString(), request.startIn);
        if (!request.multiple) dialog->setFileMode(QFileDialog::ExistingFile);
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
    if (!request.button.empty()) dialog->setLabelText(QFileDialog::Accept, QString::fromStdString(request.button));
    if (!request.message.empty()) dialog->setWindowTitle(QString::fromStdString(request.message));
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
