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
        // A selection made in the list is what the button takes: the typed path no longer
        // counts, wherever the focus is. Only the selection the typing made itself keeps
        // it typed: Qt selects the row a typed name names, and drops the old selection as
        // the user types. Either way the button's title is ours again (Qt titles it "Open"
        // for any folder selected).
        connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this, view] {
            auto* name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            const std::optional<std::string> folder = typedFolder();
            std::vector<std::string> selected;
            for (const QModelIndex& index : view->selectionModel()->selectedRows()) {
                selected.push_back(QFile::encodeName(index.data(QFileSystemModel::FilePathRole).toString()).toStdString());
            }
            const bool byTyping =
                folder && (selected.empty() ? name && name->hasFocus() : selected == std::vector<std::string>{*folder});
            if (!byTyping) typed_ = false;
            retitle();
        });
    }
    connect(this, &QFileDialog::directoryEntered, this, [this] {
        typed_ = false;
        retitle();
    });
    if (QPushButton* button = acceptButton()) acceptLabel_ = button->text();
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

QPushButton* FilesOrFoldersDialog::acceptButton() const {
    auto* box = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    return box ? box->button(QDialogButtonBox::Open) : nullptr;
}

void FilesOrFoldersDialog::setAcceptLabel(const QString& label) {
    acceptLabel_ = label;
    setLabelText(QFileDialog::Accept, label);
    retitle();
}

// Qt's labelText(Accept) reads the button back, which Qt itself titles "Open" whenever a
// folder is selected: the label to show is kept here.
void FilesOrFoldersDialog::retitle() {
    QPushButton* button = acceptButton();
    if (!button) return;
    if (typedFolder()) {
        button->setText(QStringLiteral("Open"));
        button->setEnabled(true);
        return;
    }
    button->setText(acceptLabel_);
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
