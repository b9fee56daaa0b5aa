#include "ui/FilePicker.h"

#include <QAbstractItemView>
#include <QFileSystemModel>

#include "model/MainThread.h"
#include "ui/HiddenFilesToggle.h"
#include "ui/PlainText.h"

namespace keldwick {

FilesOrFoldersDialog::FilesOrFoldersDialog(QWidget* parent, const QString& title, const std::string& startFolder)
    : QFileDialog(parent, title, fromPath(startFolder)) {
    setOption(QFileDialog::DontUseNativeDialog, true);
    // Links are moved as links: never resolve them into their targets.
    setOption(QFileDialog::DontResolveSymlinks, true);
    setFileMode(QFileDialog::ExistingFiles);
    setAcceptMode(QFileDialog::AcceptOpen);
    for (auto* view : findChildren<QAbstractItemView*>()) {
        if (view->objectName() == QLatin1String("listView") || view->objectName() == QLatin1String("treeView")) {
            view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        }
    }
    toggle_ = new HiddenFilesToggle(this);
}

void FilesOrFoldersDialog::accept() {
    // The list and detail views share one selection model.
    auto* view = findChild<QAbstractItemView*>(QStringLiteral("listView"));
    std::vector<std::string> paths;
    if (view && view->selectionModel()) {
        for (const QModelIndex& index : view->selectionModel()->selectedRows()) {
            const QString path = index.data(QFileSystemModel::FilePathRole).toString();
            if (!path.isEmpty()) paths.push_back(QFile::encodeName(path).toStdString());
        }
    }
    if (paths.empty()) {
        QFileDialog::accept();
        if (result() == QDialog::Accepted) {
            for (const QString& file : selectedFiles()) paths.push_back(QFile::encodeName(file).toStdString());
            chosen_ = std::move(paths);
        }
        return;
    }
    chosen_ = std::move(paths);
    QDialog::accept();
}

std::vector<std::string> chooseFilesOrFolders(const QString& title, const std::string& startFolder) {
    assertMainThread();
    FilesOrFoldersDialog dialog(nullptr, title, startFolder);
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.chosenPaths();
}

}  // namespace keldwick
