#include "desktop/Pictures.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QWidget>
#include <gtest/gtest.h>

namespace keldwick::test {

void savePicture(QWidget& window, QSize size, const QString& name) {
    window.resize(size);
    window.show();
    QCoreApplication::processEvents();
    const QImage image = window.grab().toImage();
    EXPECT_EQ(image.size(), size) << name.toStdString();
    const QString folder = QStringLiteral(QT_TESTCASE_BUILDDIR "/../screenshots");
    QDir().mkpath(folder);
    EXPECT_TRUE(image.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"))) << name.toStdString();
}

}  // namespace keldwick::test
