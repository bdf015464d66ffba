#include <QCoreApplication>
#include <gtest/gtest.h>

// The response timer and the signal waits need a Qt event loop.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
