// The desktop tests run Qt on the test display when test.sh provided it, and
// off screen otherwise, so the tests that need no display still run. Run as
// "--child clipboard-without-gui", the program is instead a process with no
// GUI application at all.
#include "platform/linux/desktop/qt_pasteboard.h"
#include "support/x_test_client.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTextStream>

#include <cstring>

namespace {

// Uses the clipboard with no application at all, then in a process that has
// no GUI; prints what setText() and text() said each time.
int clipboardWithoutGui(int argc, char** argv)
{
    auto pasteboard = orvane::makeQtPasteboard();
    QTextStream out(stdout);
    auto use = [&](const QString& text) {
        out << (pasteboard->setText(text) ? "taken " : "refused ")
            << (pasteboard->text() ? "text" : "none") << '\n';
    };
    use(QStringLiteral("no application"));
    QCoreApplication app(argc, argv);
    use(QStringLiteral("core application"));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--child") == 0)
        return std::strcmp(argv[2], "clipboard-without-gui") == 0 ? clipboardWithoutGui(argc, argv)
                                                                  : 2;
    ::testing::InitGoogleTest(&argc, argv);
    orvane::test::XTestClient probe;
    const bool x11 = orvane::test::displayProvided() && probe.open();
    qputenv("QT_QPA_PLATFORM", x11 ? "xcb" : "offscreen");
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
