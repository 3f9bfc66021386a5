#include "mutter_cast.h"

#include "support/pump.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>

namespace orvane::test {

namespace {

const QString service = "org.gnome.Mutter.ScreenCast";
const QString desktop = "org.gnome.Mutter.RemoteDesktop";

// Plain calls: an interface object would read the remote object's
// description into a cache that outlives the test.
QDBusMessage call(const QDBusConnection& bus, const QString& to, const QString& path,
                  const QString& interface, const QString& method,
                  const QVariantList& arguments = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall(to, path, interface, method);
    message.setArguments(arguments);
    return bus.call(message, QDBus::Block, 10'000);
}

} // namespace

MutterCast::~MutterCast()
{
    if (!m_stream.isEmpty())
        m_bus.disconnect(service, m_stream, service + ".Stream", "PipeWireStreamAdded", this,
                         SLOT(streamAdded(uint)));
    if (!m_desktop.isEmpty())
        call(m_bus, desktop, m_desktop, desktop + ".Session", "Stop");
}

std::optional<std::uint32_t> MutterCast::start(QString* error)
{
    const QDBusReply<QDBusObjectPath> made =
        call(m_bus, desktop, "/org/gnome/Mutter/RemoteDesktop", desktop, "CreateSession");
    if (!made.isValid()) {
        *error = "RemoteDesktop.CreateSession: " + made.error().message();
        return std::nullopt;
    }
    m_desktop = made.value().path();
    const QDBusReply<QDBusVariant> sessionId =
        call(m_bus, desktop, m_desktop, "org.freedesktop.DBus.Properties", "Get",
             {desktop + ".Session", "SessionId"});
    const QString id = sessionId.value().variant().toString();
    const QDBusReply<QDBusObjectPath> cast =
        call(m_bus, service, "/org/gnome/Mutter/ScreenCast", service, "CreateSession",
             {QVariantMap{{"remote-desktop-session-id", id}}});
    if (!cast.isValid()) {
        *error = "ScreenCast.CreateSession: " + cast.error().message();
        return std::nullopt;
    }
    // Cursor mode 2: the cursor comes as metadata, apart from the pixels.
    const QDBusReply<QDBusObjectPath> stream =
        call(m_bus, service, cast.value().path(), service + ".Session", "RecordMonitor",
             {QString(), QVariantMap{{"cursor-mode", QVariant::fromValue(2u)}}});
    if (!stream.isValid()) {
        *error = "RecordMonitor: " + stream.error().message();
        return std::nullopt;
    }
    m_stream = stream.value().path();
    m_bus.connect(service, m_stream, service + ".Stream", "PipeWireStreamAdded", this,
                  SLOT(streamAdded(uint)));
    const QDBusMessage started = call(m_bus, desktop, m_desktop, desktop + ".Session", "Start");
    if (started.type() == QDBusMessage::ErrorMessage) {
        *error = "Start: " + started.errorMessage();
        return std::nullopt;
    }
    if (!pumpUntil([&] { return m_node.has_value(); }, 10'000))
        *error = "mutter announced no stream";
    return m_node;
}

bool MutterCast::movePointer(double x, double y)
{
    return call(m_bus, desktop, m_desktop, desktop + ".Session", "NotifyPointerMotionAbsolute",
                {m_stream, x, y})
               .type() == QDBusMessage::ReplyMessage;
}

bool startWaylandProbe(QProcess& probe, const QString& colour)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.insert("WAYLAND_DISPLAY", qEnvironmentVariable("ORVANE_TEST_GNOME_WAYLAND_DISPLAY"));
    env.insert("XDG_RUNTIME_DIR", qEnvironmentVariable("ORVANE_TEST_GNOME_RUNTIME_DIR"));
    env.insert("DBUS_SESSION_BUS_ADDRESS", qEnvironmentVariable("ORVANE_TEST_GNOME_BUS"));
    env.insert("GDK_BACKEND", "wayland");
    probe.setProcessEnvironment(env);
    probe.start("/usr/bin/python3", {ORVANE_WAYLAND_PROBE, "--colour", colour});
    QByteArray said;
    // Each turn waits for output, so the wait does not spin.
    return pumpUntil(
        [&] {
            probe.waitForReadyRead(20);
            return (said += probe.readAllStandardOutput()).contains("\"ready\"");
        },
        20'000);
}

} // namespace orvane::test
