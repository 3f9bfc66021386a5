#include <QCoreApplication>

#include <gtest/gtest.h>

// A QCoreApplication, as in the server, so timers and the session bus behave
// as they do there.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
