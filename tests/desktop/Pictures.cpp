#include "desktop/Pictures.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
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

void savePicture(QWidget& window, QSize size, const QString& name) {
    window.resize(size);
    window.show();
    QCoreApplication::processEvents();
    const QImage image = window.grab().toImage();
    EXPECT_EQ(image.size(), size) << name.toStdString();
    const QString folder = QStringLiteral(QT_TESTCASE_BUILDDIR "/../screenshots");
    QDir().mkpath(folder);
    EXPECT_TRUE(image.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"))) << name.toStdString();
    const QStringList unnamed = unnamedControls(&window);
    EXPECT_TRUE(unnamed.isEmpty()) << name.toStdString() << ", controls without a name: "
                                   << unnamed.join(QStringLiteral("; ")).toStdString();
}

}  // namespace keldwick::test
