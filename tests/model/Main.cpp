#include <QCoreApplication>
#include <gtest/gtest.h>

// The model's tests run headless, with an event loop for queued calls and timers.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
