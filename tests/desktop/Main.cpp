#include <QApplication>
#include <gtest/gtest.h>

#include "desktop/Pictures.h"
#include "ui/ButtonPadding.h"

// Desktop services, the windows' kit, the tray and the program's wiring draw widgets
// and icons: Qt's offscreen platform stands in for a display, so the tests run without
// one. Their test programs share this main.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    keldwick::test::usePictureTheme();
    // As the program does, over whichever style the pictures use.
    keldwick::keepButtonPadding();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
