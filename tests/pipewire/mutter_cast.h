#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QProcess>
#include <QString>

#include <optional>

namespace orvane::test {

// A screen cast of one monitor, made straight through mutter's D-Bus
// service with the cursor as metadata, in a remote-desktop session so that
// the test can move the pointer: the node it streams on.
class MutterCast : public QObject {
    Q_OBJECT
public:
    explicit MutterCast(QDBusConnection bus) : m_bus(std::move(bus)) {}
    ~MutterCast() override;

    // Creates, records the first monitor and starts; the node, or nothing
    // with the reason.
    std::optional<std::uint32_t> start(QString* error);
    // Moves the pointer to (x, y) on the monitor.
    bool movePointer(double x, double y);

private Q_SLOTS:
    void streamAdded(uint node) { m_node = node; }

private:
    QDBusConnection m_bus;
    QString m_desktop; // the remote-desktop session
    QString m_stream;
    std::optional<std::uint32_t> m_node;
};

// Starts the Wayland probe window full screen in `colour` (RRGGBB) on the
// headless GNOME session; false when it did not show within 20 s.
bool startWaylandProbe(QProcess& probe, const QString& colour);

} // namespace orvane::test
