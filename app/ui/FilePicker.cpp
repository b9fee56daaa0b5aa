#include "ui/FilePicker.h"

#include <QAbstractItemView>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "model/MainThread.h"
#include "ui/HiddenFilesToggle.h"
#include "ui/PlainText.h"

namespace keldwick {

std::optional<std::string> typedFolder(const std::string& typed, const std::string& shown, const std::string& home,
                                       const std::function<bool(const std::string&)>& isFolder) {
    if (typed.empty()) return std::nullopt;
    std::string path;
    if (typed == "~" || typed.rfind("~/", 0) == 0) path = home + typed.substr(1);
    else if (typed.front() == '/') path = typed;
    else path = shown + "/" + typed;
    const std::string clean = QFile::encodeName(QDir::cleanPath(QFile::decodeName(path.c_str()))).toStdString();
    if (!isFolder(clean)) return std::nullopt;
    return clean;
}

FilesOrFoldersDialog::FilesOrFoldersDialog(QWidget* parent, const QString& title, const std::string& startFolder,
                                           bool foldersOnly, bool hiddenFilesToggle)
    : QFileDialog(parent, title, fromPath(startFolder)) {
    setOption(QFileDialog::DontUseNativeDialog, true);
    // Links are moved as links: never resolve them into their targets.
    setOption(QFileDialog::DontResolveSymlinks, true);
    setOption(QFileDialog::ShowDirsOnly, foldersOnly);
    setFileMode(QFileDialog::ExistingFiles);
    setAcceptMode(QFileDialog::AcceptOpen);
    for (auto* view : findChildren<QAbstractItemView*>()) {
        if (view->objectName() == QLatin1String("listView") || view->objectName() == QLatin1String("treeView")) {
            view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        }
    }
    if (auto* name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
        connect(name, &QLineEdit::textEdited, this, [this] {
            typed_ = true;
            retitle();
        });
        // Qt titles the button on each change; ours runs after and has the last word.
        connect(name, &QLineEdit::textChanged, this, &FilesOrFoldersDialog::retitle);
    }
    if (auto* view = findChild<QAbstractItemView*>(QStringLiteral("listView")); view && view->selectionModel()) {
        // A selection made in the list fills the name field with its names: they are no typed
        // path. One the typing made (Qt selects the row a name completes to) keeps it typed.
        connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
            auto* name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (name && name->hasFocus()) return;
            typed_ = false;
            retitle();
        });
    }
    connect(this, &QFileDialog::directoryEntered, this, [this] {
        typed_ = false;
        retitle();
    });
    if (hiddenFilesToggle) toggle_ = new HiddenFilesToggle(this);
}

std::optional<std::string> FilesOrFoldersDialog::typedFolder() const {
    auto* name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (!typed_ || !name) return std::nullopt;
    return keldwick::typedFolder(QFile::encodeName(name->text()).toStdString(),
                                 QFile::encodeName(directory().absolutePath()).toStdString(),
                                 QFile::encodeName(QDir::homePath()).toStdString(),
                                 [](const std::string& path) { return QFileInfo(QFile::decodeName(path.c_str())).isDir(); });
}

void FilesOrFoldersDialog::retitle() {
    auto* box = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    QPushButton* button = box ? box->button(QDialogButtonBox::Open) : nullptr;
    if (!button) return;
    if (typedFolder()) {
        button->setText(QStringLiteral("Open"));
        button->setEnabled(true);
        return;
    }
    button->setText(labelText(QFileDialog::Accept));
}

void FilesOrFoldersDialog::accept() {
    if (const auto folder = typedFolder()) {
        if (auto* name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) name->clear();
        setDirectory(fromPath(*folder));
        typed_ = false;
        retitle();
        return;
    }
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
