#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace orvane {

// One connection to the X display ($DISPLAY), shared by the input, display,
// application and window backends of the main thread. It is opened lazily and
// reopened when the server went away, so a desktop that starts after us, or
// restarts, is picked up on the next call.
class X11Connection {
public:
    X11Connection() = default;
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    // Connects when needed; false when no display can be reached.
    bool ensureConnected();
    // Valid only after ensureConnected() returned true.
    xcb_connection_t* get() const { return m_connection; }
    xcb_screen_t* screen() const { return m_screen; }
    xcb_window_t root() const { return m_screen ? m_screen->root : xcb_window_t(XCB_WINDOW_NONE); }
    // Interned atom, cached; XCB_ATOM_NONE on failure.
    xcb_atom_t atom(std::string_view name);
    // Bumped on every (re)connect, so users can drop cached server state.
    unsigned generation() const { return m_generation; }

    // The server sends MappingNotify to every client unasked, so events pile
    // up on this connection. Reads what has arrived, without waiting, and
    // returns a count that changes whenever the keyboard map changed.
    // Other events are dropped: no backend selects any on this connection.
    unsigned keyboardMappingSerial();

private:
    void disconnect();
    bool hungUp() const;

    xcb_connection_t* m_connection = nullptr;
    xcb_screen_t* m_screen = nullptr;
    std::map<std::string, xcb_atom_t, std::less<>> m_atoms;
    unsigned m_generation = 0;
    unsigned m_keyboardMappingSerial = 0;
};

// Whether the desktop's display ($DISPLAY) accepts a connection now.
bool x11DisplayReachable();

// A reply from xcb that frees itself.
template <class T> struct XcbFree {
    void operator()(T* p) const { std::free(p); }
};
template <class T> using XcbReply = std::unique_ptr<T, XcbFree<T>>;

} // namespace orvane
