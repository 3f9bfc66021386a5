#include "test_support.h"

#include "platform/fake/fake_window_system.h"
#include "platform/linux/x11/x11_application_catalog.h"
#include "platform/linux/x11/x11_connection.h"
#include "support/pump.h"
#include "support/x_test_client.h"

#include <QElapsedTimer>

#include <algorithm>
#include <climits>
#include <unistd.h>

namespace orvane {
namespace {

using namespace std::chrono_literals;
using test::TestApplication;

class RunningTest : public test::XdgFixture {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::displayProvided());
        ASSERT_TRUE(m_display.open());
        test::writeFile(userEntry("org.orvane.TestWindow.desktop"),
                        entry("Test Window", "/bin/true", "StartupWMClass=OrvaneTestWindow\n"));
    }

    // The test's own client: Xvfb runs no window manager, so it keeps
    // _NET_CLIENT_LIST itself.
    test::XTestClient m_display;
    std::shared_ptr<X11Connection> m_x11 = std::make_shared<X11Connection>();
};

// Which windows name which processes is the matching's affair (see
// parsing_test.cpp); here they are read from the display.
TEST_F(RunningTest, ApplicationsAndTheSessionFollowTheClientListAndItsFallback)
{
    TestApplication app;
    ASSERT_TRUE(app.start({"OrvaneTestWindow"}));
    const std::int32_t desktopPid = 4243, dockPid = 4244;
    const std::vector<std::uint32_t> listed = {
        m_display.createWindow(desktopPid, "OrvaneDesktop", "_NET_WM_WINDOW_TYPE_DESKTOP"),
        m_display.createWindow(dockPid, "OrvanePanel", "_NET_WM_WINDOW_TYPE_DOCK"), app.windows[0],
        m_display.createWindow(getppid(), "OrvaneStranger", "_NET_WM_WINDOW_TYPE_NORMAL")};
    m_display.createWindow(4242, "OrvaneUnmapped", nullptr, false);
    X11ApplicationCatalog catalog(m_x11);
    const RunningApp ours{app.pid(), "org.orvane.TestWindow", "Test Window",
                          "org.orvane.TestWindow"};
    const RunningApp strangerRecord{getppid(), "", "OrvaneStranger", ""};
    {
        test::XTestClient windowManager; // its list goes with it
        ASSERT_TRUE(windowManager.open());
        windowManager.setProperty(windowManager.root(), "_NET_CLIENT_LIST", XCB_ATOM_WINDOW,
                                  listed);
        EXPECT_EQ(catalog.runningApps(), (std::vector<RunningApp>{ours, strangerRecord}));
        const std::vector<std::int32_t> session = catalog.sessionProcesses();
        const auto has = [&](std::int32_t pid) { return std::ranges::count(session, pid) > 0; };
        EXPECT_TRUE(has(getpid()) && has(desktopPid) && has(dockPid));
        EXPECT_TRUE(getppid() <= 1 || has(getppid())) << "the program that started the tests";
        EXPECT_FALSE(has(app.pid()) || has(1) || has(0));
    }

    // Without a window manager's list: the mapped top-level clients.
    const std::vector<RunningApp> fallback = catalog.runningApps();
    const auto has = [&](const RunningApp& r) { return std::ranges::count(fallback, r) > 0; };
    EXPECT_TRUE(has(ours) && has(strangerRecord));
    EXPECT_FALSE(has({4242, "", "OrvaneUnmapped", ""}));
}

// The polite quit asks, and what the application answers is its own affair;
// the forced one sends SIGTERM so the application can save, and SIGKILL only
// to one that outlives the grace period. A signal sent before a close request
// is taken before that request is read: an application that answers a
// request of ours had none.
TEST_F(RunningTest, QuitAsksAndForceQuitSignalsTermThenKillAfterTheGracePeriod)
{
    TestApplication closing, refusing, stubborn;
    ASSERT_TRUE(closing.start({"OrvaneTestWindow", "close"}));
    ASSERT_TRUE(refusing.start({"OrvaneTestWindow", "refuse"}));
    ASSERT_TRUE(stubborn.start({"OrvaneTestWindow", "stubborn"}));
    m_display.setProperty(m_display.root(), "_NET_CLIENT_LIST", XCB_ATOM_WINDOW,
                          {closing.windows[0], refusing.windows[0]});
    X11ApplicationCatalog catalog(m_x11, 0ms); // a signal after the request would come at once
    catalog.terminate(closing.pid());
    catalog.terminate(refusing.pid());
    ASSERT_TRUE(closing.ended());
    EXPECT_EQ(closing.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(closing.process().exitCode(), 0); // closed, not signalled
    EXPECT_TRUE(refusing.said("close refused"));
    test::settle();
    m_display.askToClose(refusing.windows[0]);
    EXPECT_TRUE(refusing.said("close refused")) << "a refusal is final";
    {
        X11ApplicationCatalog gone(m_x11, 0ms);
        EXPECT_TRUE(gone.forceTerminate(stubborn.pid()));
    }
    EXPECT_TRUE(stubborn.said("SIGTERM"));
    test::settle();
    m_display.askToClose(stubborn.windows[0]);
    EXPECT_TRUE(stubborn.said("close refused")) << "no SIGKILL from a gone catalog";

    constexpr auto grace = 500ms;
    X11ApplicationCatalog patient(m_x11, grace);
    EXPECT_TRUE(patient.forceTerminate(refusing.pid()));
    ASSERT_TRUE(refusing.ended());
    EXPECT_EQ(refusing.process().exitCode(), 15); // its SIGTERM handler
    QElapsedTimer elapsed;
    elapsed.start();
    const std::int32_t pid = stubborn.pid();
    EXPECT_TRUE(patient.forceTerminate(pid));
    EXPECT_TRUE(stubborn.said("SIGTERM"));
    ASSERT_TRUE(stubborn.ended());
    EXPECT_EQ(stubborn.process().exitStatus(), QProcess::CrashExit);
    EXPECT_GE(elapsed.elapsed(), grace.count());
    EXPECT_FALSE(patient.forceTerminate(pid)); // gone and reaped
}

TEST(RunningWithoutDisplay, ListsNothingAndSignalsNoProcessGroupOrItself)
{
    test::ScopedEnvironment env;
    env.unset("DISPLAY");
    X11ApplicationCatalog catalog(std::make_shared<X11Connection>(), 0ms);
    EXPECT_TRUE(catalog.runningApps().empty());
    EXPECT_TRUE(X11ApplicationCatalog(nullptr).runningApps().empty());
    for (const std::int32_t pid : {0, -1, 1, INT_MIN, std::int32_t(getpid())}) {
        EXPECT_FALSE(catalog.forceTerminate(pid)) << pid;
        catalog.terminate(pid);
    }
    QCoreApplication::processEvents(); // a SIGKILL here would end the test run
}

// On a Wayland desktop the window backend's list stands in for the X
// server's clients: who runs, what belongs to the desktop, polite quits.
TEST(RunningFromAWindowBackend, QuitClosesTheAppsWindowsAndSparesTheDesktops)
{
    FakeWindowSystem windows;
    const auto window = [](std::uint32_t id, std::int32_t pid, bool normal, bool shell) {
        DesktopWindow w;
        w.id = id;
        w.pid = pid;
        w.applicationClass = QStringLiteral("org.orvane.Test%1").arg(pid);
        w.normal = normal;
        w.shell = shell;
        return w;
    };
    windows.desktop = {window(11, 4301, true, false), window(12, 4301, false, false),
                       window(13, 4302, false, true), window(14, 4303, true, false)};
    X11ApplicationCatalog catalog(appWindowsOf(windows), 0ms);
    std::vector<std::int32_t> running;
    for (const RunningApp& app : catalog.runningApps())
        running.push_back(app.pid);
    EXPECT_EQ(running, (std::vector<std::int32_t>{4301, 4303}));
    EXPECT_EQ(std::ranges::count(catalog.sessionProcesses(), 4302), 1);
    catalog.terminate(4301); // the dialog too: it may be the one asking to save
    catalog.terminate(4302);
    EXPECT_EQ(windows.requests, (std::vector<std::string>{"close 11", "close 12"}));
}

} // namespace
} // namespace orvane
