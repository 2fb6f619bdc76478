// The main of the GoogleTest suites that drive widgets: one QApplication for
// the whole run, on the platform the environment names (offscreen in CTest).

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
