#include "platform/linux/desktop/qt_pasteboard.h"
#include "platform/linux/desktop/xdg_workspace.h"
#include "test_support.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTextStream>

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Child modes: checks that need a fresh process, because Qt caches what it
// read from the environment, or because they need a process without a GUI.

// Prints the workspace's folders as "name=path", or "name" alone for none.
int printFolders(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    auto workspace = orvane::makeXdgWorkspace();
    QTextStream out(stdout);
    auto print = [&](const char* name, std::optional<QString> path) {
        out << name;
        if (path)
            out << '=' << *path;
        out << '\n';
    };
    print("downloads", workspace->standardFolder(orvane::StandardFolder::downloads));
    print("desktop", workspace->standardFolder(orvane::StandardFolder::desktop));
    print("documents", workspace->standardFolder(orvane::StandardFolder::documents));
    print("home", workspace->homeDirectory());
    print("config", workspace->configDirectory());
    return 0;
}

// Uses the clipboard with no application at all, then in a process that has
// no GUI; prints what text() said each time.
int clipboardWithoutGui(int argc, char** argv)
{
    auto pasteboard = orvane::makeQtPasteboard();
    QTextStream out(stdout);
    pasteboard->setText(QStringLiteral("no application"));
    out << (pasteboard->text() ? "text" : "none") << '\n';
    QCoreApplication app(argc, argv);
    pasteboard->setText(QStringLiteral("core application"));
    out << (pasteboard->text() ? "text" : "none") << '\n';
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--child") == 0) {
        if (std::strcmp(argv[2], "folders") == 0)
            return printFolders(argc, argv);
        if (std::strcmp(argv[2], "clipboard-without-gui") == 0)
            return clipboardWithoutGui(argc, argv);
        return 2;
    }
    ::testing::InitGoogleTest(&argc, argv);
    orvane::test::chooseQtPlatform();
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
