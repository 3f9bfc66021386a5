#pragma once

#include <xcb/xcb.h>

#include <atomic>
#include <map>
#include <optional>
#include <string>
#include <thread>

namespace orvane::test {

// Another X client, on its own connection, as a text editor or terminal would
// be: it asks for the CLIPBOARD selection or owns it.
class XcbClient {
public:
    XcbClient();
    ~XcbClient();
    XcbClient(const XcbClient&) = delete;
    XcbClient& operator=(const XcbClient&) = delete;

    bool connected() const { return m_connection && !xcb_connection_has_error(m_connection); }
    xcb_atom_t atom(const std::string& name);
    xcb_window_t selectionOwner(const std::string& selection);
    // The server's time now, from a property change on our own window, as
    // clients take it for requests that need a real timestamp.
    xcb_timestamp_t serverTime();

    // Converts the selection to the target and returns the bytes, pumping
    // Qt's event loop while it waits so this process's own clipboard can
    // answer. Nothing when the owner refused or never answered.
    std::optional<std::string> convert(const std::string& selection, const std::string& target);

protected:
    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_window = XCB_WINDOW_NONE;
};

// Owns CLIPBOARD and serves the given targets (target name to bytes, the
// type being the target itself) from its own thread, for as long as it lives.
// Qt's clipboard blocks the main thread while it waits for an answer, so the
// owner cannot be served from there.
class SelectionOwner : public XcbClient {
public:
    explicit SelectionOwner(std::map<std::string, std::string> targets);
    ~SelectionOwner();

    // Takes CLIPBOARD and starts serving; false when it could not.
    bool start();
    // Stops serving and closes the connection, which leaves the clipboard
    // without an owner.
    void stop();

private:
    void serve();
    void answer(const xcb_selection_request_event_t& request);

    std::map<std::string, std::string> m_targets;
    std::map<xcb_atom_t, std::string> m_byAtom;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace orvane::test
