#pragma once

#include "platform/linux/portal/portal_backend.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace orvane {

// One screen the portal streams, where it lies on the desktop when the
// portal says so.
struct PortalStream {
    std::uint32_t node = 0;
    std::optional<QPoint> position;
    std::optional<QSize> size;
};

// The devices a remote-desktop session can drive.
namespace portal {
constexpr unsigned keyboard = 1;
constexpr unsigned pointer = 2;
} // namespace portal

// One portal session from creation through the user's dialog to its streams:
// a remote-desktop session (input and screens) or a screen cast alone. It is
// started once; what the user chose stays until the session is dropped.
class PortalSession final : public QObject {
    Q_OBJECT
public:
    enum class Kind { remoteDesktop, screenCast };
    // unavailable: the portal is missing or offers nothing of this kind.
    enum class State { idle, starting, started, declined, unavailable };

    PortalSession(QDBusConnection bus, Kind kind, PortalTokenStore tokens,
                  std::chrono::milliseconds deadline);
    ~PortalSession() override;

    State state() const { return m_state; }
    unsigned devices() const { return m_devices; }
    const std::vector<PortalStream>& streams() const { return m_streams; }

    // Asks the portal (and so the user) once; later calls do nothing.
    void start();
    // Runs `settled` once the session is no longer starting (at once when it
    // is not).
    void whenSettled(std::function<void()> settled);
    // A descriptor of the PipeWire remote that carries this session's
    // streams, owned by the receiver; -1 and why on failure.
    void openPipeWireRemote(std::function<void(int fd, QString error)> done);
    // One of RemoteDesktop's Notify methods, after the session and options.
    void notify(const char* method, const QVariantList& arguments);

private Q_SLOTS:
    void closed(const QDBusMessage&);

private:
    QString interface() const;
    void readProperties();
    void createSession(unsigned cursorMode);
    void selectDevices(unsigned cursorMode);
    void selectSources(unsigned cursorMode);
    void startSession();
    void started(const QVariantMap& results);
    void settle(State state);
    // Runs `next` after a Request-style step that succeeded; settles otherwise.
    std::function<void(unsigned, const QVariantMap&)>
    step(std::function<void(const QVariantMap&)> next);

    QDBusConnection m_bus;
    Kind m_kind;
    PortalTokenStore m_tokens;
    QTimer m_deadline;
    State m_state = State::idle;
    QString m_handle;
    unsigned m_remoteDesktopVersion = 0;
    unsigned m_screenCastVersion = 0;
    unsigned m_devices = 0;
    std::vector<PortalStream> m_streams;
    std::vector<std::function<void()>> m_waiting;
};

// The streams of a Start answer; nothing for malformed ones.
std::vector<PortalStream> portalStreams(const QVariant& value);

} // namespace orvane
