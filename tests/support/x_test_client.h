#pragma once

// Other programs on an X display, as the tests need them: a client of the
// test's own connection, one that owns the clipboard, and an application in
// a process of its own (x_test_window.cpp).
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace orvane::test {

// Passes when test.sh provided its X display; otherwise fails with the
// reason it gave, as a test that needs the display must never skip.
::testing::AssertionResult displayProvided();

// Polls until `done` holds, for at most `timeoutMs`. It sleeps between tries
// rather than running Qt's event loop: what it waits for is another
// process's doing, the X server's or the window manager's.
bool eventually(const std::function<bool()>& done, int timeoutMs = 10000);

// A connection of its own to the X display. What it puts on the root goes
// again when it closes, and its windows go with its connection.
class XTestClient {
public:
    XTestClient() = default;
    ~XTestClient() { close(); }
    XTestClient(const XTestClient&) = delete;
    XTestClient& operator=(const XTestClient&) = delete;

    // Connects to the display, DISPLAY's when none is named.
    ::testing::AssertionResult open(const char* display = nullptr);
    void close();
    xcb_connection_t* connection() const { return m_c; }
    xcb_window_t root() const { return m_root; }

    xcb_atom_t atom(const char* name);
    // A property's 32-bit values; none when it is missing or not of 32 bits.
    std::vector<std::uint32_t> property(xcb_window_t window, const char* name);
    void setProperty(xcb_window_t window, const char* name, xcb_atom_t type,
                     const std::vector<std::uint32_t>& values);
    // A round trip: the server has handled everything sent before it.
    void sync() { std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr)); }
    // A top-level window that names its process and class and, when given,
    // its _NET_WM_WINDOW_TYPE.
    xcb_window_t createWindow(std::int32_t pid, const std::string& wmClass,
                              const char* type = nullptr, bool mapped = true);
    // Asks the window's owner to close it, as a window manager does.
    void askToClose(xcb_window_t window);

    xcb_window_t selectionOwner(const char* selection);
    // Converts the selection to the target as an editor pastes, running Qt's
    // event loop meanwhile so that this process's own clipboard can answer;
    // nothing when the owner refused or never answered.
    std::optional<std::string> paste(const char* selection, const char* target);

protected:
    // A window of our own, for transfers and timestamps; made when needed.
    xcb_window_t ownWindow();
    // An event of the type for our window, read within the time limit;
    // other events are dropped.
    xcb_generic_event_t* waitFor(std::uint8_t type, bool runQt, int limitMs = 20000);

    xcb_connection_t* m_c = nullptr;
    xcb_window_t m_root = 0;
    xcb_window_t m_own = 0;
    std::vector<xcb_atom_t> m_rootProperties;
};

// Owns CLIPBOARD and serves the targets (name to bytes, the type being the
// target itself) from a thread of its own, as Qt's clipboard blocks the main
// thread while it waits for an answer.
class SelectionOwner : public XTestClient {
public:
    explicit SelectionOwner(std::map<std::string, std::string> targets)
        : m_targets(std::move(targets))
    {
    }
    ~SelectionOwner() { stop(); }
    // Takes CLIPBOARD and starts serving; false when it could not.
    bool start();
    // Stops and closes the connection, which leaves the clipboard ownerless.
    void stop();

private:
    void serve();
    void answer(const xcb_selection_request_event_t& request);

    std::map<std::string, std::string> m_targets;
    std::map<xcb_atom_t, std::string> m_byAtom;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// An application of its own process on the display that DISPLAY names when
// it starts; x_test_window.cpp tells what the arguments mean.
class TestApplication {
public:
    ~TestApplication() { kill(); }
    // Starts it and reads the ids of its windows.
    ::testing::AssertionResult start(const QStringList& arguments);
    std::vector<std::uint32_t> windows;
    std::int32_t pid() const { return std::int32_t(m_process.processId()); }
    QProcess& process() { return m_process; }
    // Waits for a line it prints about what it was asked or sent.
    bool said(const QByteArray& line);
    // Waits for it to end; Qt's event loop runs meanwhile to hear of it.
    bool ended();
    void kill();

private:
    QProcess m_process;
};

} // namespace orvane::test
