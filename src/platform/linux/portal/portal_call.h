#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QVariantList>
#include <QVariantMap>

#include <functional>

namespace orvane {

// Where the desktop portal answers, and the names of its interfaces.
namespace portal {
inline const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
inline const QString remoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
inline const QString screenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");
inline const QString session = QStringLiteral("org.freedesktop.portal.Session");
inline const QString request = QStringLiteral("org.freedesktop.portal.Request");

// How a request ended: the user agreed, declined, or something failed.
enum Response : unsigned { ok = 0, cancelled = 1, failed = 2 };
} // namespace portal

// One portal method that answers through a Request object: the answer comes
// as that object's Response signal, which is subscribed to before the call
// so it cannot be missed. `done` runs once, on the main thread; deleting the
// call (or its parent) first means it never runs.
class PortalCall final : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(unsigned response, const QVariantMap& results)>;

    // Calls `method` with `arguments`, whose last one is the options map;
    // the call adds its handle_token to it.
    PortalCall(QDBusConnection bus, const QString& interface, const QString& method,
               QVariantList arguments, Done done, QObject* parent);
    ~PortalCall() override;

private Q_SLOTS:
    void response(const QDBusMessage& message);

private:
    void listen(const QString& requestPath);
    void finish(unsigned code, const QVariantMap& results);

    QDBusConnection m_bus;
    QString m_requestPath;
    Done m_done;
};

// The Request path the portal gives a call of `bus` with `token`, so the
// answer can be listened for before asking.
QString portalRequestPath(const QDBusConnection& bus, const QString& token);

// A token for handle_token and session_handle_token, unique in this process.
QString portalToken();

} // namespace orvane
