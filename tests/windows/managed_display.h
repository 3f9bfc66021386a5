#pragma once

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvane::test {

// A private X server with a window manager, so these tests neither see nor
// disturb the shared test display, where other suites count on there being
// no window manager. Points DISPLAY at it.
class ManagedDisplay {
public:
    ~ManagedDisplay();
    // Starts Xvfb, with the extra arguments, and openbox; fails with the
    // reason when either cannot run.
    ::testing::AssertionResult start(const QStringList& serverArguments = {});
    xcb_connection_t* connection() const { return m_c; }
    xcb_window_t root() const { return m_root; }

    xcb_atom_t atom(const char* name);
    std::vector<std::uint32_t> property(xcb_window_t window, const char* name);
    bool hasState(xcb_window_t window, const char* state);
    std::vector<std::uint32_t> stacking() { return property(m_root, "_NET_CLIENT_LIST_STACKING"); }

private:
    bool windowManagerReady();

    QProcess m_server;
    QProcess m_windowManager;
    QTemporaryDir m_home;
    xcb_connection_t* m_c = nullptr;
    xcb_window_t m_root = 0;
};

// Polls until `done` holds, for at most ten seconds.
bool eventually(const std::function<bool()>& done);

// The test windows' own process (test_client.cpp).
class TestApplication {
public:
    ~TestApplication();
    // Starts it and waits until the window manager manages every window.
    ::testing::AssertionResult start(ManagedDisplay& display,
                                     const std::vector<std::string>& descriptions);
    std::vector<std::uint32_t> windows;
    std::int32_t pid() const { return std::int32_t(m_process.processId()); }
    void kill();

private:
    ::testing::AssertionResult startOnce(ManagedDisplay& display,
                                         const std::vector<std::string>& descriptions);
    QProcess m_process;
    bool m_managedMiss = false;
};

} // namespace orvane::test
