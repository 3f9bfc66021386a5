#include "wayland_connection.h"

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"
#include "wlr-screencopy-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <QLoggingCategory>
#include <QPointer>
#include <QSocketNotifier>

#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orvane {

namespace {
Q_LOGGING_CATEGORY(lcWayland, "orvane.wayland")

// A compositor that offers thousands of globals is broken or hostile; we
// keep no more than this many.
constexpr std::size_t maxGlobals = 4096;
} // namespace

struct WaylandConnection::Pending {
    QPointer<QObject> context;
    std::function<void(bool)> done;
};

// The C callbacks of libwayland, handing each event to its connection.
struct WaylandListeners {
    static void global(void* data, wl_registry*, std::uint32_t name, const char* interface,
                       std::uint32_t version)
    {
        static_cast<WaylandConnection*>(data)->addGlobal(name, interface, version);
    }
    static void globalRemove(void* data, wl_registry*, std::uint32_t name)
    {
        static_cast<WaylandConnection*>(data)->removeGlobal(name);
    }
    static void done(void* data, wl_callback* callback, std::uint32_t)
    {
        static_cast<WaylandConnection*>(data)->synced(callback);
    }
    static constexpr wl_registry_listener registry{&global, &globalRemove};
    static constexpr wl_callback_listener callback{&done};
};

std::unique_ptr<WaylandConnection> WaylandConnection::connect(const QString& socket)
{
    const QByteArray name = socket.toLocal8Bit();
    wl_display* display = wl_display_connect(socket.isEmpty() ? nullptr : name.constData());
    if (!display) {
        qCInfo(lcWayland) << "no Wayland compositor at"
                          << (socket.isEmpty() ? qEnvironmentVariable("WAYLAND_DISPLAY") : socket);
        return nullptr;
    }
    return std::unique_ptr<WaylandConnection>(new WaylandConnection(display));
}

WaylandConnection::WaylandConnection(wl_display* display)
    : m_display(display), m_registry(wl_display_get_registry(display)),
      m_readable(
          std::make_unique<QSocketNotifier>(wl_display_get_fd(display), QSocketNotifier::Read)),
      m_writable(
          std::make_unique<QSocketNotifier>(wl_display_get_fd(display), QSocketNotifier::Write))
{
    wl_registry_add_listener(m_registry, &WaylandListeners::registry, this);
    QObject::connect(m_readable.get(), &QSocketNotifier::activated, this, [this] { readEvents(); });
    m_writable->setEnabled(false);
    QObject::connect(m_writable.get(), &QSocketNotifier::activated, this, [this] { flush(); });
    flush();
}

WaylandConnection::~WaylandConnection()
{
    m_readable.reset();
    m_writable.reset();
    for (auto& [callback, pending] : m_pending)
        wl_callback_destroy(callback);
    m_pending.clear();
    wl_registry_destroy(m_registry);
    wl_display_disconnect(m_display);
}

std::uint32_t WaylandConnection::version(const char* interface) const
{
    for (const Global& global : m_globals)
        if (global.interface == interface)
            return global.version;
    return 0;
}

void* WaylandConnection::bindGlobal(const Global& global, const wl_interface& interface,
                                    std::uint32_t maxVersion)
{
    const std::uint32_t version = std::min(global.version, maxVersion);
    void* proxy = wl_registry_bind(m_registry, global.name, &interface, version);
    flush();
    return proxy;
}

void* WaylandConnection::bind(const wl_interface& interface, std::uint32_t maxVersion)
{
    if (!m_connected)
        return nullptr;
    for (const Global& global : m_globals)
        if (global.interface == interface.name)
            return bindGlobal(global, interface, maxVersion);
    return nullptr;
}

std::vector<std::pair<std::uint32_t, void*>>
WaylandConnection::bindAll(const wl_interface& interface, std::uint32_t maxVersion)
{
    std::vector<std::pair<std::uint32_t, void*>> proxies;
    if (!m_connected)
        return proxies;
    for (const Global& global : m_globals)
        if (global.interface == interface.name)
            proxies.emplace_back(global.name, bindGlobal(global, interface, maxVersion));
    return proxies;
}

void WaylandConnection::whenSynced(QObject* context, std::function<void(bool)> done)
{
    if (!m_connected) {
        done(false);
        return;
    }
    wl_callback* callback = wl_display_sync(m_display);
    wl_callback_add_listener(callback, &WaylandListeners::callback, this);
    m_pending.emplace(callback, std::make_unique<Pending>(Pending{context, std::move(done)}));
    flush();
}

void WaylandConnection::synced(wl_callback* callback)
{
    auto it = m_pending.find(callback);
    if (it == m_pending.end())
        return;
    std::unique_ptr<Pending> pending = std::move(it->second);
    m_pending.erase(it);
    wl_callback_destroy(callback);
    if (pending->context)
        pending->done(true);
}

void WaylandConnection::addGlobal(std::uint32_t name, const char* interface, std::uint32_t version)
{
    if (m_globals.size() < maxGlobals)
        m_globals.push_back({name, QByteArray(interface), version});
}

void WaylandConnection::removeGlobal(std::uint32_t name)
{
    std::erase_if(m_globals, [name](const Global& global) { return global.name == name; });
    Q_EMIT globalRemoved(name);
}

void WaylandConnection::flush()
{
    if (!m_connected)
        return;
    if (wl_display_flush(m_display) >= 0) {
        m_writable->setEnabled(false);
    } else if (errno == EAGAIN) {
        // The socket is full: the rest goes when the compositor has read.
        m_writable->setEnabled(true);
    } else {
        fail(std::strerror(errno));
    }
}

void WaylandConnection::readEvents()
{
    if (!m_connected)
        return;
    // Events read earlier but not yet handed out come first; then exactly
    // one read, which the notifier says will not wait.
    while (wl_display_prepare_read(m_display) != 0)
        if (wl_display_dispatch_pending(m_display) < 0)
            return fail("dispatch failed");
    if (wl_display_read_events(m_display) < 0)
        return fail("the compositor closed the connection");
    if (wl_display_dispatch_pending(m_display) < 0)
        return fail("dispatch failed");
    flush();
}

void WaylandConnection::fail(const char* why)
{
    if (!m_connected)
        return;
    m_connected = false;
    m_readable->setEnabled(false);
    m_writable->setEnabled(false);
    const int error = wl_display_get_error(m_display);
    qCWarning(lcWayland) << "Wayland connection lost:" << why
                         << (error ? std::strerror(error) : "");
    // Whoever waits for an answer learns that none will come.
    auto pending = std::exchange(m_pending, {});
    for (auto& [callback, waiting] : pending) {
        wl_callback_destroy(callback);
        if (waiting->context)
            waiting->done(false);
    }
    Q_EMIT lost();
}

WlrootsProtocols wlrootsProtocols(const WaylandConnection& connection)
{
    auto offered = [&](const wl_interface& interface) {
        return connection.isConnected() && connection.version(interface.name) > 0;
    };
    return {offered(zwp_virtual_keyboard_manager_v1_interface),
            offered(zwlr_virtual_pointer_manager_v1_interface),
            offered(zwlr_data_control_manager_v1_interface),
            offered(zwlr_screencopy_manager_v1_interface),
            offered(zwlr_foreign_toplevel_manager_v1_interface)};
}

} // namespace orvane
