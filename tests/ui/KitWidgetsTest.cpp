#include <QDialogButtonBox>
#include <QDir>
#include <QLineEdit>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>
#include <gtest/gtest.h>
#include <filesystem>
#include <set>

#include "support/KeyboardWalk.h"
#include "support/TempDir.h"
#include "ui/ElidedLabel.h"
#include "ui/EmptyStateView.h"
#include "ui/FilePicker.h"
#include "ui/HiddenFilesToggle.h"
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
        {"drive", "drive-harddisk-usb"}, {"computer", "computer-laptop"},
        {"folder", "folder"},                    {"no.such.symbol", ""},
        // Marks and signs are always drawn.
        {"arrow-right", ""},                     {"warning-mark", ""},
        {"check-filled", ""},           {"search", ""},
        {"hand", ""},
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

    // Marks and signs take the palette's text colour: light on a dark theme, where a
    // theme's grey symbolic pictures would all but vanish.
    const QPalette before = QGuiApplication::palette();
    QPalette dark = before;
    dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Window, QColor(0x2a, 0x2a, 0x2a));
    QGuiApplication::setPalette(dark);
    for (const char* symbol : {"check", "check-filled", "info", "search",
                               "hand", "chevron-right", "warning-filled"}) {
        const QImage image = Symbols::icon(symbol).pixmap(32, 32).toImage();
        int light = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.alpha() > 200 && c.lightness() > 200) ++light;
            }
        }
        EXPECT_GE(light, 20) << symbol;
    }
    QGuiApplication::setPalette(before);

    Symbols::useDesktopIconTheme();
    if (!QIcon::hasThemeIcon(QStringLiteral("drive-harddisk"))) GTEST_SKIP() << "no freedesktop icon theme installed";
    const QIcon drive = Symbols::icon("drive");
    EXPECT_TRUE(Symbols::themeNames("drive").contains(drive.name())) << drive.name().toStdString();
}

TEST(ElidedLabelTest, ALongTextIsShortenedToItsRoomWithTheWholeInItsTooltip) {
    const QString name = QString::fromUtf8("Seagate Expansion Desktop 4TB \u2013 Familienarchiv 2024");
    QWidget window;
    auto* layout = new QHBoxLayout(&window);
    auto* label = new ElidedLabel(name, &window);
    auto* button = new QPushButton(QStringLiteral("Use This Drive"), &window);
    layout->addWidget(label, 1);
    layout->addWidget(button);
    for (int width : {180, 320, 900}) {
        SCOPED_TRACE(width);
        window.resize(width, 60);
        window.show();
        QCoreApplication::processEvents();
        // What shows fits beside the button, which keeps its whole title.
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->contentsRect().width());
        EXPECT_GE(button->width(), button->sizeHint().width());
        EXPECT_LE(label->geometry().right(), button->geometry().left());
        EXPECT_EQ(label->accessibleName(), name);
        if (label->fontMetrics().horizontalAdvance(name) > label->contentsRect().width()) {
            EXPECT_TRUE(label->isElided());
            EXPECT_TRUE(label->text().endsWith(QChar(0x2026))) << label->text().toStdString();
            EXPECT_TRUE(label->toolTip().contains(name.toHtmlEscaped()));
        } else {
            EXPECT_EQ(label->text(), name);
            EXPECT_TRUE(label->toolTip().isEmpty());
        }
    }
    // A larger font takes more room for the same text.
    window.resize(320, 60);
    QFont large = label->font();
    large.setPointSizeF(large.pointSizeF() * 2);
    label->setFont(large);
    QCoreApplication::processEvents();
    EXPECT_TRUE(label->isElided());
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->contentsRect().width());
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

TEST(FilePickerTest, ATypedPathLeadsToItsFolder) {
    const std::set<std::string> folders = {"/home/u", "/home/u/Pictures", "/home/u/Pictures/set0", "/data"};
    const auto isFolder = [&](const std::string& path) { return folders.count(path) > 0; };
    EXPECT_EQ(typedFolder("~/Pictures/set0/", "/data", "/home/u", isFolder), "/home/u/Pictures/set0");
    EXPECT_EQ(typedFolder("~", "/data", "/home/u", isFolder), "/home/u");
    EXPECT_EQ(typedFolder("set0", "/home/u/Pictures", "/home/u", isFolder), "/home/u/Pictures/set0");
    EXPECT_EQ(typedFolder("../Pictures/./set0", "/home/u/Pictures", "/home/u", isFolder), "/home/u/Pictures/set0");
    EXPECT_EQ(typedFolder("/data", "/home/u", "/home/u", isFolder), "/data");
    EXPECT_EQ(typedFolder("photo.jpg", "/home/u/Pictures", "/home/u", isFolder), std::nullopt);
    EXPECT_EQ(typedFolder("~user/x", "/data", "/home/u", isFolder), std::nullopt);
    EXPECT_EQ(typedFolder("", "/home/u", "/home/u", isFolder), std::nullopt);
}

// Typing a folder's path and pressing Return opens the folder, never moves it; the Move
// button then takes exactly the rows selected.
TEST(FilePickerTest, ReturnOnATypedFolderOpensItAndMoveTakesTheSelection) {
    test::TempDir home;
    test::writeFile(home / "Pictures/set0/a.jpg", "a");
    test::writeFile(home / "Pictures/set0/b.jpg", "b");
    FilesOrFoldersDialog dialog(nullptr, QStringLiteral("Move Files"), home / "Pictures");
    dialog.setAcceptLabel(QStringLiteral("Move"));
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    auto* button = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Open);
    ASSERT_NE(name, nullptr);
    name->setFocus();
    QTest::keyClicks(name, QString::fromStdString(home / "Pictures/set0/"));
    EXPECT_EQ(button->text(), "Open");
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.directory().absolutePath().toStdString(), home / "Pictures/set0");
    EXPECT_TRUE(dialog.chosenPaths().empty());

    auto* view = dialog.findChild<QListView*>(QStringLiteral("listView"));
    auto* model = qobject_cast<QFileSystemModel*>(view->model());
    const QString folder = QString::fromStdString(home / "Pictures/set0");
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount(model->index(folder)) == 2; }, 5000));
    view->setFocus();
    view->selectionModel()->select(model->index(QString::fromStdString(home / "Pictures/set0/b.jpg")),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    EXPECT_EQ(button->text(), "Move");
    button->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.chosenPaths(), std::vector<std::string>{home / "Pictures/set0/b.jpg"});
}

// The folders picker's button says what pressing it does: with a folder selected by a
// click (or by the keyboard) it adds that folder, so it reads "Add"; only a typed path that
// leads to a folder turns it to "Open".
TEST(FilePickerTest, TheFoldersPickerSaysAddForASelectedFolder) {
    test::TempDir home;
    for (const char* name : {"Videos", "Music"}) std::filesystem::create_directories(home / name);
    FilesOrFoldersDialog dialog(nullptr, QStringLiteral("Add Folders"), home.path(), true, false);
    dialog.setAcceptLabel(QStringLiteral("Add"));
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    auto* button = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Open);
    auto* view = dialog.findChild<QListView*>(QStringLiteral("listView"));
    ASSERT_NE(view, nullptr);
    auto* model = qobject_cast<QFileSystemModel*>(view->model());
    const QString folder = QString::fromStdString(home.path());
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount(model->index(folder)) == 2; }, 5000));
    QCoreApplication::processEvents();

    const QModelIndex videos = model->index(QString::fromStdString(home / "Videos"));
    ASSERT_TRUE(videos.isValid());
    view->scrollTo(videos);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(videos).center());
    QCoreApplication::processEvents();
    ASSERT_EQ(view->selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(button->text(), "Add");
    EXPECT_TRUE(button->isEnabled());
    QTest::keyClick(view, Qt::Key_Down);
    QCoreApplication::processEvents();
    EXPECT_EQ(button->text(), "Add");

    auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    name->setFocus();
    name->clear();
    QTest::keyClicks(name, QString::fromStdString(home / "Music"));
    EXPECT_EQ(button->text(), "Open");

    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(videos).center());
    QCoreApplication::processEvents();
    EXPECT_EQ(button->text(), "Add");
    button->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.chosenPaths(), std::vector<std::string>{home / "Videos"});
}

// Controls made after a window's buttons still come first in Tab order, where they are
// read; the keyboard walk tells when they don't, and when a control Tab reaches has no name.
TEST(KeyboardWalkTest, TabFollowsReadingOrderHoweverLateAControlWasMade) {
    const auto window = [](QWidget& into, bool named) {
        auto* layout = new QVBoxLayout(&into);
        auto* content = new QWidget(&into);
        auto* rows = new QVBoxLayout(content);
        layout->addWidget(content, 1);
        auto* done = new QPushButton(QStringLiteral("Done"), &into);
        layout->addWidget(done);
        // Rows made after the button, as a list fills in once its data arrives.
        for (const char* title : {"First", "Second"}) rows->addWidget(new QPushButton(QString::fromLatin1(title), content));
        auto* unnamed = new QToolButton(content);
        if (named) unnamed->setAccessibleName(QStringLiteral("More"));
        rows->addWidget(unnamed);
    };
    QWidget plain;
    window(plain, true);
    plain.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&plain));
    EXPECT_NE(test::keyboardOrderProblem(plain).find("Tab goes back up from QPushButton \"Done\""), std::string::npos);

    QWidget reached;
    window(reached, false);
    ASSERT_TRUE(test::activateForKeys(reached));
    const std::string problem = test::keyboardOrderProblem(reached);
    EXPECT_EQ(problem.find("goes back up"), std::string::npos) << problem;
    EXPECT_NE(problem.find("Tab reaches an unnamed QToolButton"), std::string::npos) << problem;
}

}  // namespace
}  // namespace keldwick
