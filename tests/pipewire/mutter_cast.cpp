#include "mutter_cast.h"

#include "support/pump.h"

#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusReply>

namespace orvane::test {

namespace {

const QString service = "org.gnome.Mutter.ScreenCast";
const QString desktop = "org.gnome.Mutter.RemoteDesktop";

} // namespace

MutterCast::~MutterCast()
{
    if (!m_desktop.isEmpty())
        QDBusInterface(desktop, m_desktop, desktop + ".Session", m_bus).call("Stop");
}

std::optional<std::uint32_t> MutterCast::start(QString* error)
{
    QDBusInterface desktops(desktop, "/org/gnome/Mutter/RemoteDesktop", desktop, m_bus);
    const QDBusReply<QDBusObjectPath> made = desktops.call("CreateSession");
    if (!made.isValid()) {
        *error = "RemoteDesktop.CreateSession: " + made.error().message();
        return std::nullopt;
    }
    m_desktop = made.value().path();
    QDBusInterface session(desktop, m_desktop, desktop + ".Session", m_bus);
    const QString id = session.property("SessionId").toString();
    QDBusInterface casts(service, "/org/gnome/Mutter/ScreenCast", service, m_bus);
    const QDBusReply<QDBusObjectPath> cast =
        casts.call("CreateSession", QVariantMap{{"remote-desktop-session-id", id}});
    if (!cast.isValid()) {
        *error = "ScreenCast.CreateSession: " + cast.error().message();
        return std::nullopt;
    }
    // Cursor mode 2: the cursor comes as metadata, apart from the pixels.
    const QDBusReply<QDBusObjectPath> stream =
        QDBusInterface(service, cast.value().path(), service + ".Session", m_bus)
            .call("RecordMonitor", QString(),
                  QVariantMap{{"cursor-mode", QVariant::fromValue(2u)}});
    if (!stream.isValid()) {
        *error = "RecordMonitor: " + stream.error().message();
        return std::nullopt;
    }
    m_stream = stream.value().path();
    m_bus.connect(service, m_stream, service + ".Stream", "PipeWireStreamAdded", this,
                  SLOT(streamAdded(uint)));
    const QDBusMessage started = session.call("Start");
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
    return QDBusInterface(desktop, m_desktop, desktop + ".Session", m_bus)
               .call("NotifyPointerMotionAbsolute", m_stream, x, y)
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
