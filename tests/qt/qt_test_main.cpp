#include <QApplication>

#include <gtest/gtest.h>

// The Qt tests share one application object, as a program has.
int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
