#include "test_support.h"

#include "platform/linux/x11/x11_application_catalog.h"
#include "platform/linux/x11/x11_connection.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>

#include <xcb/xcb.h>

#include <climits>
#include <cstring>
#include <unistd.h>

namespace orvane {
namespace {

using namespace std::chrono_literals;

// The test's own connection, acting as the client windows' owner and, since
// Xvfb runs no window manager, as the one who keeps _NET_CLIENT_LIST.
class TestDisplay {
public:
    TestDisplay() : m_c(xcb_connect(nullptr, nullptr))
    {
        if (!xcb_connection_has_error(m_c))
            m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;
    }
    ~TestDisplay()
    {
        if (m_root) {
            clearClientList();
            for (xcb_window_t window : m_windows)
                xcb_destroy_window(m_c, window);
            sync();
        }
        xcb_disconnect(m_c);
    }
    bool ok() const { return m_root != 0; }

    xcb_atom_t atom(const char* name)
    {
        auto* reply = xcb_intern_atom_reply(
            m_c, xcb_intern_atom(m_c, 0, std::uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return atom;
    }

    xcb_window_t createWindow(std::int32_t pid, const std::string& wmClass,
                              const char* type = nullptr, bool mapped = true)
    {
        const xcb_window_t window = xcb_generate_id(m_c);
        xcb_create_window(m_c, XCB_COPY_FROM_PARENT, window, m_root, 0, 0, 10, 10, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        const std::uint32_t pidValue = std::uint32_t(pid);
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_PID"),
                            XCB_ATOM_CARDINAL, 32, 1, &pidValue);
        const std::string classes = wmClass + '\0' + wmClass + '\0';
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING,
                            8, std::uint32_t(classes.size()), classes.data());
        if (type) {
            const xcb_atom_t typeAtom = atom(type);
            xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_WINDOW_TYPE"),
                                XCB_ATOM_ATOM, 32, 1, &typeAtom);
        }
        if (mapped)
            xcb_map_window(m_c, window);
        m_windows.push_back(window);
        sync();
        return window;
    }

    void setClientList(const std::vector<xcb_window_t>& windows)
    {
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, m_root, atom("_NET_CLIENT_LIST"),
                            XCB_ATOM_WINDOW, 32, std::uint32_t(windows.size()), windows.data());
        sync();
    }

    void clearClientList()
    {
        xcb_delete_property(m_c, m_root, atom("_NET_CLIENT_LIST"));
        sync();
    }

private:
    // A round trip: the server has handled everything sent before it.
    void sync() { std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr)); }

    xcb_connection_t* m_c;
    xcb_window_t m_root = 0;
    std::vector<xcb_window_t> m_windows;
};

bool waitForExit(QProcess& process)
{
    const QDeadlineTimer deadline(20s);
    while (process.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        process.waitForFinished(20);
    }
    return process.state() == QProcess::NotRunning;
}

// A client window in a process of its own.
class HelperWindow {
public:
    HelperWindow(const QString& wmClass, const QString& mode)
    {
        m_process.start(QStringLiteral(ORVANE_TEST_WINDOW), {wmClass, mode});
        const QDeadlineTimer deadline(20s);
        while (!m_process.canReadLine() && !deadline.hasExpired() &&
               m_process.state() != QProcess::NotRunning)
            m_process.waitForReadyRead(100);
        m_window = m_process.readLine().trimmed().toUInt();
    }
    ~HelperWindow()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    bool ok() const { return m_window != 0; }
    // Waits for a line the helper prints about what it was asked.
    bool said(const QByteArray& line)
    {
        const QDeadlineTimer deadline(20s);
        while (!deadline.hasExpired()) {
            while (m_process.canReadLine()) {
                if (m_process.readLine().trimmed() == line)
                    return true;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            m_process.waitForReadyRead(20);
        }
        return false;
    }
    std::int32_t pid() const { return std::int32_t(m_process.processId()); }
    xcb_window_t window() const { return m_window; }
    QProcess& process() { return m_process; }

private:
    QProcess m_process;
    xcb_window_t m_window = 0;
};

class RunningTest : public test::XdgFixture {
protected:
    void SetUp() override
    {
        XdgFixture::SetUp();
        ASSERT_TRUE(test::displayAvailable());
        ASSERT_TRUE(m_display.ok());
        test::writeFile(userEntry("org.orvane.TestWindow.desktop"),
                        entry("Test Window", "/bin/true", "StartupWMClass=OrvaneTestWindow\n"));
    }

    RunningApp testWindowRecord(std::int32_t pid) const
    {
        return {pid, "org.orvane.TestWindow", "Test Window", "org.orvane.TestWindow"};
    }

    TestDisplay m_display;
    std::shared_ptr<X11Connection> m_x11 = std::make_shared<X11Connection>();
};

TEST_F(RunningTest, ProcessesFollowTheClientListAndItsFallback)
{
    HelperWindow helper("OrvaneTestWindow", "refuse");
    ASSERT_TRUE(helper.ok());
    const xcb_window_t own = m_display.createWindow(getpid(), "OrvaneSelf");
    const xcb_window_t dock =
        m_display.createWindow(getppid(), "OrvaneDock", "_NET_WM_WINDOW_TYPE_DOCK");
    const xcb_window_t second = m_display.createWindow(helper.pid(), "OrvaneTestWindow");
    const xcb_window_t stranger =
        m_display.createWindow(getppid(), "OrvaneStranger", "_NET_WM_WINDOW_TYPE_NORMAL");
    m_display.createWindow(4242, "OrvaneUnmapped", nullptr, false);
    m_display.setClientList({own, dock, helper.window(), second, stranger});

    X11ApplicationCatalog catalog(m_x11);
    const RunningApp strangerRecord{getppid(), "", "OrvaneStranger", ""};
    EXPECT_EQ(catalog.runningApps(),
              (std::vector<RunningApp>{testWindowRecord(helper.pid()), strangerRecord}));

    // Without a window manager's list: the mapped top-level clients.
    m_display.clearClientList();
    const std::vector<RunningApp> fallback = catalog.runningApps();
    const auto has = [&](const RunningApp& r) {
        return std::find(fallback.begin(), fallback.end(), r) != fallback.end();
    };
    EXPECT_TRUE(has(testWindowRecord(helper.pid())));
    EXPECT_TRUE(has(strangerRecord));
    EXPECT_FALSE(has({4242, "", "OrvaneUnmapped", ""}));
}

TEST_F(RunningTest, TheSessionIsUsOurAncestorsAndTheDesktopShell)
{
    const std::int32_t desktopPid = 4243, dockPid = 4244, appPid = 4245;
    m_display.setClientList(
        {m_display.createWindow(desktopPid, "OrvaneDesktop", "_NET_WM_WINDOW_TYPE_DESKTOP"),
         m_display.createWindow(dockPid, "OrvanePanel", "_NET_WM_WINDOW_TYPE_DOCK"),
         m_display.createWindow(appPid, "OrvaneApp", "_NET_WM_WINDOW_TYPE_NORMAL")});
    const std::vector<std::int32_t> session = X11ApplicationCatalog(m_x11).sessionProcesses();
    const auto has = [&](std::int32_t pid) {
        return std::find(session.begin(), session.end(), pid) != session.end();
    };
    EXPECT_TRUE(has(getpid()) && has(desktopPid) && has(dockPid));
    EXPECT_TRUE(getppid() <= 1 || has(getppid())) << "the program that started the tests";
    EXPECT_FALSE(has(appPid) || has(1) || has(0));
}

// The polite quit asks; what the application answers is its own affair.
TEST_F(RunningTest, TerminateAsksTheWindowsToCloseAndSendsNoSignal)
{
    HelperWindow closing("OrvaneTestWindow", "close");
    HelperWindow refusing("OrvaneTestWindow", "refuse");
    ASSERT_TRUE(closing.ok() && refusing.ok());
    m_display.setClientList({closing.window(), refusing.window()});
    X11ApplicationCatalog catalog(m_x11, 0ms);
    catalog.terminate(closing.pid());
    catalog.terminate(refusing.pid());
    ASSERT_TRUE(waitForExit(closing.process()));
    EXPECT_EQ(closing.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(closing.process().exitCode(), 0); // closed, not signalled
    EXPECT_TRUE(refusing.said("close refused"));
    QCoreApplication::processEvents();
    EXPECT_FALSE(refusing.process().waitForFinished(500)) << "a refusal is final";
}

// SIGTERM first, so the application can save; SIGKILL only for one that
// outlives the grace period.
TEST_F(RunningTest, ForceQuitSendsSigtermThenSigkillAfterTheGracePeriod)
{
    HelperWindow ending("OrvaneTestWindow", "refuse");
    HelperWindow stubborn("OrvaneTestWindow", "stubborn");
    ASSERT_TRUE(ending.ok() && stubborn.ok());
    {
        X11ApplicationCatalog gone(m_x11, 0ms);
        EXPECT_TRUE(gone.forceTerminate(stubborn.pid()));
    }
    EXPECT_TRUE(stubborn.said("SIGTERM"));
    QCoreApplication::processEvents();
    EXPECT_FALSE(stubborn.process().waitForFinished(200)) << "no SIGKILL from a gone catalog";

    X11ApplicationCatalog catalog(m_x11);
    EXPECT_TRUE(catalog.forceTerminate(ending.pid()));
    ASSERT_TRUE(waitForExit(ending.process()));
    EXPECT_EQ(ending.process().exitCode(), 15); // its SIGTERM handler

    QElapsedTimer elapsed;
    elapsed.start();
    const std::int32_t pid = stubborn.pid();
    EXPECT_TRUE(catalog.forceTerminate(pid));
    EXPECT_TRUE(stubborn.said("SIGTERM"));
    ASSERT_TRUE(waitForExit(stubborn.process()));
    EXPECT_EQ(stubborn.process().exitStatus(), QProcess::CrashExit);
    EXPECT_GE(elapsed.elapsed(), X11ApplicationCatalog::defaultKillGrace.count());
    EXPECT_FALSE(catalog.forceTerminate(pid)); // gone and reaped
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

} // namespace
} // namespace orvane
