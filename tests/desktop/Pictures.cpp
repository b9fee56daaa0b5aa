#include "desktop/Pictures.h"

#include "desktop/DesktopColorScheme.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QHeaderView>
#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleFactory>
#include <QToolButton>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTabBar>
#include <QTextEdit>
#include <QWidget>
#include <gtest/gtest.h>

namespace keldwick::test {

namespace {

bool isControl(const QWidget* widget) {
    if (qobject_cast<const QScrollBar*>(widget) || qobject_cast<const QHeaderView*>(widget)) return false;
    return qobject_cast<const QAbstractButton*>(widget) || qobject_cast<const QLineEdit*>(widget) ||
           qobject_cast<const QComboBox*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget) ||
           qobject_cast<const QAbstractSlider*>(widget) || qobject_cast<const QAbstractItemView*>(widget) ||
           qobject_cast<const QTextEdit*>(widget) || qobject_cast<const QPlainTextEdit*>(widget) ||
           qobject_cast<const QTabBar*>(widget);
}

// Parts that a composite control names itself: a spin box's or combo box's field, a
// table's editors and corner button, a field's clear button.
bool isPartOfAControl(const QWidget* widget, const QWidget* window) {
    for (const QWidget* up = widget->parentWidget(); up && up != window; up = up->parentWidget()) {
        if (qobject_cast<const QAbstractSpinBox*>(up) || qobject_cast<const QComboBox*>(up) ||
            qobject_cast<const QAbstractItemView*>(up) || qobject_cast<const QLineEdit*>(up)) {
            return true;
        }
    }
    return false;
}

QString where(const QWidget* widget, const QWidget* window) {
    QString path = QString::fromLatin1(widget->metaObject()->className());
    if (!widget->objectName().isEmpty()) path += " \"" + widget->objectName() + "\"";
    for (const QWidget* up = widget->parentWidget(); up && up != window; up = up->parentWidget()) {
        path += " in " + (up->objectName().isEmpty() ? QString::fromLatin1(up->metaObject()->className())
                                                     : up->objectName());
    }
    if (!widget->toolTip().isEmpty()) path += " (tool tip: " + widget->toolTip().left(40) + ")";
    return path;
}

}  // namespace

QStringList unnamedControls(const QWidget* window) {
    QStringList unnamed;
    for (const QWidget* widget : window->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(window) || !isControl(widget) || isPartOfAControl(widget, window)) continue;
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(const_cast<QWidget*>(widget));
        if (!face || face->text(QAccessible::Name).trimmed().isEmpty()) unnamed << where(widget, window);
    }
    return unnamed;
}

QStringList cutTexts(const QWidget* window) {
    QStringList cut;
    auto report = [&](const QWidget* widget, const QString& text, const QString& why) {
        cut << QStringLiteral("\"%1\" (%2): %3").arg(text.left(60), QString::fromLatin1(widget->metaObject()->className()), why);
    };
    for (const QLabel* label : window->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(window) || label->text().isEmpty()) continue;
        // A label inside a view port shows what scrolls into view, by design.
        const QRect room = label->contentsRect().marginsRemoved(QMargins(label->margin(), label->margin(),
                                                                          label->margin(), label->margin()));
        if (label->wordWrap()) {
            const int needed = label->heightForWidth(label->width());
            if (label->height() + 1 < needed) {
                report(label, label->text(), QStringLiteral("%1 px high for %2 px of lines").arg(label->height()).arg(needed));
            }
            continue;
        }
        const QSize text = label->fontMetrics().size(0, label->text());
        if (text.width() > room.width() + 1) {
            report(label, label->text(), QStringLiteral("%1 px wide for %2 px of text").arg(room.width()).arg(text.width()));
        }
        if (label->fontMetrics().height() > room.height() + 1) {
            report(label, label->text(),
                   QStringLiteral("%1 px high for a %2 px line").arg(room.height()).arg(label->fontMetrics().height()));
        }
    }
    for (const QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        if (!button->isVisibleTo(window) || button->text().isEmpty()) continue;
        if (!qobject_cast<const QPushButton*>(button) && !qobject_cast<const QCheckBox*>(button) &&
            !qobject_cast<const QRadioButton*>(button) && !qobject_cast<const QToolButton*>(button)) {
            continue;
        }
        if (button->width() + 1 < button->sizeHint().width()) {
            report(button, button->text(),
                   QStringLiteral("%1 px wide for a %2 px title").arg(button->width()).arg(button->sizeHint().width()));
        }
    }
    return cut;
}

void usePictureTheme() {
    if (qEnvironmentVariable("KELDWICK_PICTURES_THEME") != QLatin1String("dark")) return;
    // What the program draws when the desktop prefers dark and the platform gives no dark
    // palette of its own: Fusion over its dark palette.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(darkPalette());
}

void savePicture(QWidget& window, QSize size, const QString& name) {
    window.resize(size);
    window.show();
    QCoreApplication::processEvents();
    const QImage image = window.grab().toImage();
    const double ratio = window.devicePixelRatioF();
    EXPECT_EQ(image.size(), size * ratio) << name.toStdString();
    QString variant = name;
    if (qEnvironmentVariable("KELDWICK_PICTURES_THEME") == QLatin1String("dark")) variant += QStringLiteral("-dark");
    if (ratio >= 1.5) variant += QStringLiteral("-%1x").arg(qRound(ratio));
    const QString folder = QStringLiteral(QT_TESTCASE_BUILDDIR "/../screenshots");
    QDir().mkpath(folder);
    EXPECT_TRUE(image.save(folder + QLatin1Char('/') + variant + QStringLiteral(".png"))) << variant.toStdString();
    const QStringList unnamed = unnamedControls(&window);
    EXPECT_TRUE(unnamed.isEmpty()) << name.toStdString() << ", controls without a name: "
                                   << unnamed.join(QStringLiteral("; ")).toStdString();
    const QStringList cut = cutTexts(&window);
    EXPECT_TRUE(cut.isEmpty()) << variant.toStdString() << ", texts cut: " << cut.join(QStringLiteral("; ")).toStdString();
}

}  // namespace keldwick::test
