#include "portal_call.h"

#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace orvane {

QString portalToken()
{
    static unsigned counter = 0;
    return QStringLiteral("orvane%1").arg(++counter);
}

QString portalRequestPath(const QDBusConnection& bus, const QString& token)
{
    QString sender = bus.baseService().mid(1);
    sender.replace('.', '_');
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

PortalCall::PortalCall(QDBusConnection bus, const QString& interface, const QString& method,
                       QVariantList arguments, Done done, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)), m_done(std::move(done))
{
    const QString token = portalToken();
    QVariantMap options = arguments.isEmpty() ? QVariantMap() : arguments.takeLast().toMap();
    options.insert(QStringLiteral("handle_token"), token);
    arguments << options;
    listen(portalRequestPath(m_bus, token));

    QDBusMessage call =
        QDBusMessage::createMethodCall(portal::service, portal::path, interface, method);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *w;
        if (reply.isError()) {
            finish(portal::failed, {});
            return;
        }
        // Older portals chose the path themselves; follow theirs.
        if (const QString path = reply.value().path(); path != m_requestPath)
            listen(path);
    });
}

PortalCall::~PortalCall()
{
    if (!m_requestPath.isEmpty())
        m_bus.disconnect(QString(), m_requestPath, portal::request, QStringLiteral("Response"),
                         this, SLOT(response(QDBusMessage)));
}

void PortalCall::listen(const QString& requestPath)
{
    if (!m_requestPath.isEmpty())
        m_bus.disconnect(QString(), m_requestPath, portal::request, QStringLiteral("Response"),
                         this, SLOT(response(QDBusMessage)));
    m_requestPath = requestPath;
    // No sender name: naming the service makes QtDBus look its owner up with
    // a blocking call.
    m_bus.connect(QString(), m_requestPath, portal::request, QStringLiteral("Response"), this,
                  SLOT(response(QDBusMessage)));
}

void PortalCall::response(const QDBusMessage& message)
{
    const QVariantList arguments = message.arguments();
    if (arguments.size() < 2) {
        finish(portal::failed, {});
        return;
    }
    finish(arguments[0].toUInt(), qdbus_cast<QVariantMap>(arguments[1]));
}

void PortalCall::finish(unsigned code, const QVariantMap& results)
{
    if (!m_done)
        return;
    // The callback may delete this call's owner, and with it this call.
    Done done = std::move(m_done);
    m_done = nullptr;
    deleteLater();
    done(code, results);
}

} // namespace orvane
