// The workspace: links, folders and programs handed to stand-ins for
// xdg-open and other programs, the user's folders, and the desktop's change
// notifications from the test display.
#include "platform/linux/desktop/xdg_workspace.h"
#include "platform/linux/linux_workspace_events.h"
#include "support/files.h"
#include "support/pump.h"
#include "support/scoped_environment.h"
#include "support/x_test_client.h"

#include <QGuiApplication>
#include <QTemporaryDir>
#include <QUrl>

#include <chrono>
#include <functional>

namespace orvane {
namespace {

// A folder at the front of PATH with stand-ins that record the arguments
// they were started with.
class FakePrograms : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_env.set("PATH", QFile::encodeName(m_bin.path()) + ':' + qgetenv("PATH"));
        test::writeRecorder(m_bin.filePath("xdg-open"));
    }
    std::optional<QStringList> argumentsOf(const QString& name)
    {
        return test::recordedArguments(m_bin.filePath(name));
    }
    // The opener's answer, once it came.
    static std::optional<bool> answer(const std::function<void(Workspace::Opened)>& open)
    {
        std::optional<bool> opened;
        open([&](bool yes) { opened = yes; });
        test::pumpUntil([&] { return opened.has_value(); }, 20000);
        return opened;
    }
    std::optional<bool> urlOpens(const QUrl& url)
    {
        return answer([&](Workspace::Opened done) { m_workspace->openUrl(url, done); });
    }
    std::optional<bool> folderOpens(const QString& path)
    {
        return answer([&](Workspace::Opened done) { m_workspace->openFolder(path, done); });
    }

    QTemporaryDir m_bin;
    QTemporaryDir m_work;
    test::ScopedEnvironment m_env;
    std::unique_ptr<Workspace> m_workspace = makeXdgWorkspace();
};

// Each link or folder reaches xdg-open as one argument, as written: no shell
// splits it and no part of it passes for an option.
TEST_F(FakePrograms, OpenersHandOverOneArgumentAsWritten)
{
    const QUrl url("https://example.com/a b/it's \"here\";touch pwned?q=1;2&x=$(id)#top");
    ASSERT_TRUE(url.isValid());
    const QByteArray encoded = "spotify:search:a%2Db%2E%5F%7E%20c";
    const QString folder = m_work.filePath("it's a \"folder\"; rm -rf ~");
    ASSERT_TRUE(QDir().mkpath(folder));
    const std::pair<std::function<std::optional<bool>()>, QString> cases[] = {
        {[&] { return urlOpens(url); }, url.toString(QUrl::FullyEncoded)},
        {[&] { return std::optional(m_workspace->openEncodedUrl(encoded)); }, encoded},
        {[&] { return folderOpens(folder + "/"); }, folder},
    };
    for (const auto& [open, argument] : cases) {
        QFile::remove(m_bin.filePath("xdg-open.args"));
        ASSERT_EQ(open(), true) << argument.toStdString();
        EXPECT_EQ(argumentsOf("xdg-open"), QStringList{argument});
    }
    EXPECT_FALSE(QFile::exists("pwned"));
}

TEST_F(FakePrograms, RefusesWhatIsNoLinkOrNoFolderOrHasNoOpener)
{
    test::writeFile(m_work.filePath("notes.txt"), {});
    for (const QString& folder : {m_work.filePath("missing"), m_work.filePath("notes.txt"),
                                  QString(), QStringLiteral("."), QStringLiteral("--help")})
        EXPECT_EQ(folderOpens(folder), false) << folder.toStdString();
    // A relative URL could pass for an option.
    for (const QUrl& url : {QUrl(), QUrl("--help"), QUrl("http://exa mple.com")})
        EXPECT_EQ(urlOpens(url), false) << url.toString().toStdString();
    for (const QByteArray& bad : {QByteArray(), QByteArray("--help"), QByteArray("a b:c"),
                                  QByteArray("http://x/\xc3\xa9"), QByteArray("http://x/a b")})
        EXPECT_FALSE(m_workspace->openEncodedUrl(bad)) << bad.constData();

    QTemporaryDir empty;
    m_env.set("PATH", QFile::encodeName(empty.path()));
    EXPECT_EQ(urlOpens(QUrl("https://example.com/")), false);
    EXPECT_EQ(folderOpens(m_work.path()), false);
    EXPECT_FALSE(m_workspace->openEncodedUrl("spotify:search:a"));
}

// The answer is xdg-open's exit status, or yes while it still runs after the
// wait (it may be waiting for the browser it started). What it writes to its
// error output reaches the diagnostics log, never the terminal.
TEST_F(FakePrograms, TheOpenersStatusIsTheAnswerAndItsErrorsAreDiagnostics)
{
    test::writeFile(m_bin.filePath("xdg-open"), "#!/bin/sh\necho \"no method for $1\" >&2\n"
                                                "case $1 in *slow*) sleep 2; exit 3;; "
                                                "*fail*) exit 3;; esac\n");
    QFile::setPermissions(m_bin.filePath("xdg-open"), QFile::ReadOwner | QFile::ExeOwner);
    static QStringList logged;
    logged.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext& where, const QString& text) {
            if (QLatin1String(where.category) == QLatin1String("orvane.diagnostics"))
                logged << text;
        });
    m_workspace = makeXdgWorkspace(std::chrono::milliseconds(300));
    EXPECT_EQ(urlOpens(QUrl("https://example.com/fail")), false);
    EXPECT_EQ(urlOpens(QUrl("https://example.com/ok")), true);
    EXPECT_EQ(urlOpens(QUrl("https://example.com/slow")), true);
    // The slow one ends too, and is logged like the others.
    EXPECT_TRUE(test::pumpUntil([] { return logged.filter("status 3").size() == 2; }, 20000));
    qInstallMessageHandler(previous);
    for (const char* link : {"fail", "ok", "slow"})
        EXPECT_TRUE(logged.contains(QStringLiteral("no method for https://example.com/") + link))
            << logged.join('\n').toStdString();
}

TEST_F(FakePrograms, StartsProcessesWithoutAShell)
{
    test::writeRecorder(m_bin.filePath("tool"));
    const QString marker = m_work.filePath("pwned");
    const QStringList arguments{"two words", "$(touch " + marker + ')', ";", QString(), "ü"};
    ASSERT_TRUE(m_workspace->startProcess(QStringList{"tool"} + arguments));
    EXPECT_EQ(argumentsOf("tool"), arguments);
    EXPECT_FALSE(QFile::exists(marker));

    EXPECT_FALSE(m_workspace->startProcess({}));
    EXPECT_FALSE(m_workspace->startProcess({QString()}));
    EXPECT_FALSE(m_workspace->startProcess({"orvane-no-such-program"}));
    EXPECT_FALSE(m_workspace->startProcess({m_work.filePath("no-such-program")}));
}

// The folders come from the XDG user dirs of the user's own settings, read
// again on every call.
TEST(Folders, FollowTheUserDirsFileAndTheConfigFolderDefaultsToDotConfig)
{
    QTemporaryDir home;
    test::ScopedEnvironment env;
    env.set("HOME", QFile::encodeName(home.path()));
    env.unset("XDG_CONFIG_HOME");
    const auto workspace = makeXdgWorkspace();
    EXPECT_EQ(workspace->configDirectory(), home.filePath(".config/Orvane"));
    EXPECT_EQ(workspace->homeDirectory(), home.path());

    const QString config = home.filePath("settings");
    const QString desk = home.filePath("elsewhere/Schreibtisch");
    ASSERT_TRUE(QDir().mkpath(home.filePath("Eingang")) && QDir().mkpath(desk));
    const QString dirs = "# written by xdg-user-dirs-update\nXDG_DOWNLOAD_DIR=\"$HOME/Eingang\"\n"
                         "XDG_DESKTOP_DIR=\"%1\"\nXDG_DOCUMENTS_DIR=\"$HOME/\"\n";
    test::writeFile(config + "/user-dirs.dirs", dirs.arg(desk).toUtf8());
    env.set("XDG_CONFIG_HOME", QFile::encodeName(config));
    EXPECT_EQ(workspace->standardFolder(StandardFolder::downloads), home.filePath("Eingang"));
    EXPECT_EQ(workspace->standardFolder(StandardFolder::desktop), desk);
    EXPECT_EQ(workspace->standardFolder(StandardFolder::documents), std::nullopt)
        << "a folder set to the home folder itself is switched off";
    EXPECT_EQ(workspace->configDirectory(), config + "/Orvane");
}

// A notification that xcb read while frontmostPid() waited for its replies
// sits in xcb's queue, not in the socket; it must be reported all the same,
// with no later event to wake the reader. A client of the test sets the root
// properties that a window manager would keep.
TEST(WorkspaceEvents, ChangesReadDuringAReplyWaitAreReportedAtOnce)
{
    ASSERT_TRUE(test::displayProvided());
    test::XTestClient windowManager;
    ASSERT_TRUE(windowManager.open());
    std::unique_ptr<WorkspaceEvents> events = makeLinuxWorkspaceEvents();
    int frontmost = 0, applications = 0;
    events->onFrontmostChanged = [&] { ++frontmost; };
    events->onApplicationsChanged = [&] { ++applications; };
    test::settle(); // whatever came before the test

    const struct {
        const char* property;
        int& reported;
    } cases[] = {{"_NET_ACTIVE_WINDOW", frontmost}, {"_NET_CLIENT_LIST", applications}};
    for (const auto& c : cases) {
        c.reported = 0;
        windowManager.setProperty(windowManager.root(), c.property, XCB_ATOM_WINDOW,
                                  {XCB_WINDOW_NONE});
        events->frontmostPid();
        EXPECT_TRUE(test::pumpUntil([&] { return c.reported > 0; }, 5000)) << c.property;
    }
}

} // namespace
} // namespace orvane
