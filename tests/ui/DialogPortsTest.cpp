#include "ui/DialogPorts.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

#include "support/TempDir.h"
#include "ui/FilePicker.h"
#include "ui/HiddenFilesToggle.h"

namespace keldwick {
namespace {

// Runs `look` on the modal dialog once it is up, then closes it with `finish`.
template <class Dialog>
void whenShown(std::function<void(Dialog*)> look, std::function<void(Dialog*)> finish) {
    QTimer::singleShot(0, [look, finish] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        look(dialog);
        finish(dialog);
    });
}

TEST(DialogPortsTest, AlertsShowTheirTextsAsWritten) {
    QString text, informative;
    Qt::TextFormat format = Qt::RichText, informativeFormat = Qt::RichText;
    whenShown<QMessageBox>(
        [&](QMessageBox* box) {
            text = box->text();
            format = box->textFormat();
            auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
            ASSERT_NE(label, nullptr);
            informative = label->text();
            informativeFormat = label->textFormat();
        },
        [](QMessageBox* box) { box->accept(); });
    MessageBoxAlerts().present("Keldwick is already running", "<b>Look</b> for its icon in the system tray.");
    EXPECT_EQ(text, "Keldwick is already running");
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(informative, "<b>Look</b> for its icon in the system tray.");
    EXPECT_EQ(informativeFormat, Qt::PlainText);
}

TEST(DialogPortsTest, PickerKindFollowsTheRequest) {
    test::TempDir home;
    test::makeDirs(home / "Pictures");
    struct Case {
        const char* name;
        PickRequest request;
        bool bothKinds;
        QFileDialog::FileMode mode;
        bool toggle;
    };
    const Case cases[] = {
        {"files and folders", {true, true, true, home.path(), "Move", "Choose files or folders to move to Archive.", true,
                               "Move to Archive"},
         true, QFileDialog::ExistingFiles, true},
        // Several folders at once: the dialog that takes every row selected, showing folders alone.
        {"folders", {true, false, true, home.path(), "Add", "Choose folders.", false, ""}, true,
         QFileDialog::ExistingFiles, false},
        {"folders with hidden ones", {true, false, true, home.path(), "", "", true, ""}, true,
         QFileDialog::ExistingFiles, true},
        {"one folder", {true, false, false, home.path(), "", "", false, ""}, false, QFileDialog::Directory, false},
        {"one file", {false, true, false, home.path(), "", "", false, ""}, false, QFileDialog::ExistingFile, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool both = false, toggle = false;
        QFileDialog::FileMode mode{};
        QString button, title, message;
        whenShown<QFileDialog>(
            [&](QFileDialog* dialog) {
                title = dialog->windowTitle();
                if (auto* label = dialog->findChild<QLabel*>(QStringLiteral("pickerMessage"))) {
                    message = label->text();
                    EXPECT_TRUE(label->isVisibleTo(dialog));
                }
                both = qobject_cast<FilesOrFoldersDialog*>(dialog) != nullptr;
                mode = dialog->fileMode();
                toggle = dialog->findChild<HiddenFilesToggle*>() != nullptr;
                button = dialog->labelText(QFileDialog::Accept);
            },
            [](QFileDialog* dialog) { dialog->reject(); });
        EXPECT_EQ(DialogFilePicker().pick(c.request), std::nullopt);  // cancelled
        EXPECT_EQ(both, c.bothKinds);
        EXPECT_EQ(mode, c.mode);
        EXPECT_EQ(toggle, c.toggle);
        if (!c.request.button.empty()) {
            EXPECT_EQ(button.toStdString(), c.request.button);
        }
        // The title is the window's; the message stands above the rows, never as the title.
        if (!c.request.title.empty()) {
            EXPECT_EQ(title.toStdString(), c.request.title);
        }
        EXPECT_NE(title.toStdString(), c.request.message);
        EXPECT_EQ(message.toStdString(), c.request.message);
    }
}

}  // namespace
}  // namespace keldwick
