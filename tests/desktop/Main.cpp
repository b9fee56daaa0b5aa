#include <QApplication>
#include <gtest/gtest.h>

// Desktop services draw icons and one checkbox: Qt's offscreen platform stands in
// for a display, so the tests run without one.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
