#include <QCoreApplication>

#include <gtest/gtest.h>

// A QCoreApplication, as in the server: the delayed sleep runs on its timers
// and the buses are reached through it.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
