#include "settings_portal.h"

#include "session_bus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QVariant>

namespace orvane {

namespace {

const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
const QString interface = QStringLiteral("org.freedesktop.portal.Settings");
const QString group = QStringLiteral("org.freedesktop.appearance");
const QString key = QStringLiteral("color-scheme");

// The portal wraps the value in one variant for ReadOne and in two for the
// older Read; unwrap whatever nesting arrives.
QVariant unwrap(QVariant value)
{
    for (int depth = 0; depth < 4 && value.metaType() == QMetaType::fromType<QDBusVariant>();
         ++depth)
        value = qvariant_cast<QDBusVariant>(value).variant();
    return value;
}

} // namespace

std::optional<uint> portalColorScheme(int timeoutMs)
{
    QDBusConnection bus = sessionBus();
    if (!bus.isConnected())
        return std::nullopt;
    QDBusMessage message =
        QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Read"));
    message.setArguments({group, key});
    // Starting the portal on demand can take seconds; a desktop that uses it
    // has it running already.
    message.setAutoStartService(false);
    const QDBusMessage reply = bus.call(message, QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    bool ok = false;
    const uint scheme = unwrap(reply.arguments().first()).toUInt(&ok);
    return ok ? std::optional(scheme) : std::nullopt;
}

std::optional<bool> portalPrefersDark(int timeoutMs)
{
    const auto scheme = portalColorScheme(timeoutMs);
    return scheme ? std::optional(*scheme == 1) : std::nullopt;
}

PortalColorSchemeWatcher::PortalColorSchemeWatcher(std::function<void(uint)> onScheme,
                                                   QObject* parent)
    : QObject(parent), m_onScheme(std::move(onScheme))
{
    // Qt D-Bus finds the slot by its types' names, and knows this one by
    // name only once something registered it.
    qRegisterMetaType<QDBusVariant>();
    sessionBus().connect(service, path, interface, QStringLiteral("SettingChanged"), this,
                         SLOT(settingChanged(QString, QString, QDBusVariant)));
}

void PortalColorSchemeWatcher::settingChanged(const QString& changedGroup,
                                              const QString& changedKey, const QDBusVariant& value)
{
    bool ok = false;
    const uint scheme = unwrap(value.variant()).toUInt(&ok);
    if (changedGroup == group && changedKey == key && ok && m_onScheme)
        m_onScheme(scheme);
}

} // namespace orvane
