#pragma once

#include "x11_connection.h"

#include <QObject>
#include <QSocketNotifier>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

namespace orvane {

// What changes on the root window of the X display: the active window and
// the client list (property changes), and the monitors (RandR). The events
// arrive on a connection of its own: the shared one is read by the input
// backends, which drop events they do not expect. Callbacks run on the main
// thread; an unset one drops its event.
class X11RootWatcher {
public:
    X11RootWatcher();
    X11RootWatcher(const X11RootWatcher&) = delete;
    X11RootWatcher& operator=(const X11RootWatcher&) = delete;

    // The process owning the active window, or nothing.
    std::optional<std::int32_t> frontmostPid();

    std::function<void()> onFrontmostChanged;
    std::function<void()> onApplicationsChanged;
    std::function<void()> onScreensChanged;

private:
    std::optional<std::int32_t> readFrontmostPid();
    void listen();
    void scheduleDrain();
    void drain();
    std::optional<std::uint32_t> cardinal(xcb_window_t window, std::string_view name,
                                          xcb_atom_t type);

    X11Connection m_x11;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QObject m_drainContext; // a scheduled drain dies with it, not with the notifier
    xcb_atom_t m_activeAtom = XCB_ATOM_NONE;
    xcb_atom_t m_clientListAtom = XCB_ATOM_NONE;
    std::uint8_t m_randrBase = 0;
    bool m_drainScheduled = false;
};

} // namespace orvane
