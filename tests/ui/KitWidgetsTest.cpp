#include <QDir>
#include <QFileSystemModel>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "desktop/HiddenFilesToggle.h"
#include "support/TempDir.h"
#include "ui/EmptyStateView.h"
#include "ui/FilePicker.h"
#include "ui/Symbols.h"

namespace keldwick {
namespace {

bool hasInk(const QIcon& icon) {
    const QImage image = icon.pixmap(32, 32).toImage();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) > 0) return true;
        }
    }
    return false;
}

TEST(SymbolsTest, ThemeNamesFirstAndADrawnPictureOtherwise) {
    struct Case {
        const char* symbol;
        const char* firstName;  // empty: not in the table
    };
    const Case cases[] = {
        {"externaldrive", "drive-harddisk-usb"}, {"laptopcomputer", "computer-laptop"},
        {"arrow.right", "go-next"},              {"exclamationmark", "dialog-warning"},
        {"checkmark.circle.fill", "emblem-ok-symbolic"}, {"folder", "folder"},
        {"no.such.symbol", ""},
    };
    const QString theme = QIcon::themeName();
    QIcon::setThemeName(QStringLiteral("no-such-theme"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.symbol);
        const QStringList names = Symbols::themeNames(c.symbol);
        EXPECT_EQ(names.value(0), QString::fromUtf8(c.firstName));
        // Without a theme that has any of the names, the symbol is still drawn.
        EXPECT_TRUE(hasInk(Symbols::icon(c.symbol)));
    }
    QIcon::setThemeName(theme);

    Symbols::useDesktopIconTheme();
    if (!QIcon::hasThemeIcon(QStringLiteral("drive-harddisk"))) GTEST_SKIP() << "no freedesktop icon theme installed";
    const QIcon drive = Symbols::icon("externaldrive");
    EXPECT_TRUE(Symbols::themeNames("externaldrive").contains(drive.name())) << drive.name().toStdString();
}

TEST(EmptyStateViewTest, TextsArePlainAndTheDescriptionHidesWhenEmpty) {
    EmptyStateView view("folder", EmptyStateView::noResultsTitle(QStringLiteral("<b>x</b>")),
                        EmptyStateView::noResultsDescription());
    EXPECT_EQ(view.titleLabel()->text(), QStringLiteral("No Results for \u201c<b>x</b>\u201d"));
    EXPECT_EQ(view.titleLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(view.descriptionLabel()->textFormat(), Qt::PlainText);
    view.show();
    EXPECT_TRUE(view.descriptionLabel()->isVisible());
    view.setDescription(QString());
    EXPECT_FALSE(view.descriptionLabel()->isVisible());

    int pressed = 0;
    QPushButton* button = view.addButton(QStringLiteral("Choose Drive…"), [&] { ++pressed; });
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(pressed, 1);
}

TEST(FilePickerTest, OpenTakesFilesAndFoldersTogether) {
    test::TempDir home;
    test::writeFile(home / "Desktop/report.pdf", "pdf");
    test::writeFile(home / "Desktop/Project/main.cpp", "int main() {}");
    test::writeFile(home / "Desktop/.hidden", "h");

    FilesOrFoldersDialog dialog(nullptr, QStringLiteral("Move Files"), home / "Desktop");
    ASSERT_NE(dialog.hiddenFilesToggle(), nullptr);
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontResolveSymlinks));

    auto* view = dialog.findChild<QListView*>(QStringLiteral("listView"));
    ASSERT_NE(view, nullptr);
    auto* model = qobject_cast<QFileSystemModel*>(view->model());
    ASSERT_NE(model, nullptr);
    const QString folder = QString::fromStdString(home / "Desktop");
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount(model->index(folder)) == 2; }, 5000));

    for (const char* name : {"Project", "report.pdf"}) {
        const QModelIndex index = model->index(QString::fromStdString(home / "Desktop/" + name));
        ASSERT_TRUE(index.isValid()) << name;
        view->selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    std::vector<std::string> chosen = dialog.chosenPaths();
    std::sort(chosen.begin(), chosen.end());
    EXPECT_EQ(chosen, (std::vector<std::string>{home / "Desktop/Project", home / "Desktop/report.pdf"}));
}

}  // namespace
}  // namespace keldwick
