// The test programs' main(): Qt's application object of the kind that
// CMakeLists.txt names, so timers, sockets and the buses work as they do in
// the server. Programs that draw do it off screen unless the variable that
// CMakeLists.txt names is set: DISPLAY for icons and windows, and
// QT_QPA_PLATFORM for widgets, whose pictures never depend on a display.
#include TEST_APPLICATION_HEADER

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
#ifdef TEST_OFFSCREEN_UNLESS
    if (qEnvironmentVariableIsEmpty(TEST_OFFSCREEN_UNLESS))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    TEST_APPLICATION app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
