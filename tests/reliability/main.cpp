#include <QCoreApplication>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

int main(int argc, char** argv)
{
    // Both ends of a thousand sockets live in this process; the fixture
    // fails with a clear message when the hard limit leaves too few.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    // A peer may close while we write; that is an error to handle, not a death.
    ::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
