#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

struct wl_callback;
struct wl_display;
struct wl_interface;
struct wl_registry;
class QSocketNotifier;

namespace orvane {

// A client connection to the Wayland compositor, served by the Qt event
// loop: what the compositor sends is read when its socket is readable, and
// what we send is written out without ever waiting for the compositor.
class WaylandConnection final : public QObject {
    Q_OBJECT
public:
    struct Global {
        std::uint32_t name = 0;
        QByteArray interface;
        std::uint32_t version = 0;
    };

    // Connects to `socket`, a name in XDG_RUNTIME_DIR or an absolute path;
    // with none, to the session's WAYLAND_DISPLAY. Nothing when no
    // compositor answers there.
    static std::unique_ptr<WaylandConnection> connect(const QString& socket = {});
    ~WaylandConnection() override;

    wl_display* display() const { return m_display; }
    // False once the compositor has gone or closed the connection on us.
    bool isConnected() const { return m_connected; }
    // The globals the compositor offers; complete once the first
    // `whenSynced` has run.
    const std::vector<Global>& globals() const { return m_globals; }
    // The version of `interface` on offer; 0 when it is not offered.
    std::uint32_t version(const char* interface) const;
    // Binds the first global of `interface`, at most at `maxVersion`;
    // nothing when it is not offered.
    void* bind(const wl_interface& interface, std::uint32_t maxVersion);
    // Binds every global of `interface`: each global's name and its proxy.
    std::vector<std::pair<std::uint32_t, void*>> bindAll(const wl_interface& interface,
                                                         std::uint32_t maxVersion);

    // Runs `done(true)` once the compositor has answered everything sent
    // before this call, `done(false)` if the connection is lost first.
    // Nothing runs once `context` is gone.
    void whenSynced(QObject* context, std::function<void(bool connected)> done);
    // Sends what was asked so far; what the socket cannot take now goes
    // out when it can.
    void flush();

Q_SIGNALS:
    void lost();
    void globalRemoved(std::uint32_t name);

private:
    explicit WaylandConnection(wl_display* display);
    void readEvents();
    void fail(const char* why);
    void addGlobal(std::uint32_t name, const char* interface, std::uint32_t version);
    void removeGlobal(std::uint32_t name);
    void synced(wl_callback* callback);
    void* bindGlobal(const Global& global, const wl_interface& interface, std::uint32_t maxVersion);

    struct Pending;
    friend struct WaylandListeners;

    wl_display* m_display = nullptr;
    wl_registry* m_registry = nullptr;
    bool m_connected = true;
    std::unique_ptr<QSocketNotifier> m_readable;
    std::unique_ptr<QSocketNotifier> m_writable;
    std::vector<Global> m_globals;
    std::map<wl_callback*, std::unique_ptr<Pending>> m_pending;
};

// Which of the protocols a wlroots desktop offers for remote control.
struct WlrootsProtocols {
    bool virtualKeyboard = false;
    bool virtualPointer = false;
    bool dataControl = false;
    bool screencopy = false;
    bool foreignToplevel = false;

    // Keys, typing and the pointer can all be given.
    bool input() const { return virtualKeyboard && virtualPointer; }
};

WlrootsProtocols wlrootsProtocols(const WaylandConnection& connection);

} // namespace orvane
