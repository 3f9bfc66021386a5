#include "logind_session.h"

#include "session_bus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QVariant>

#include <fcntl.h>
#include <unistd.h>

namespace orvane {

namespace {

const QString service = QStringLiteral("org.freedesktop.login1");
const QString managerPath = QStringLiteral("/org/freedesktop/login1");
const QString managerInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString sessionInterface = QStringLiteral("org.freedesktop.login1.Session");
// logind resolves "auto" to the session of the calling process, or of the
// caller's user when the process itself belongs to none.
const QString autoSessionPath = QStringLiteral("/org/freedesktop/login1/session/auto");

QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                  const QVariantList& arguments)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return QDBusMessage::createError(QDBusError::Disconnected, QStringLiteral("no system bus"));
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return bus.call(message, QDBus::Block, LogindSession::callTimeoutMs);
}

bool succeeded(const QDBusMessage& reply)
{
    return reply.type() == QDBusMessage::ReplyMessage;
}

} // namespace

LogindSession::~LogindSession()
{
    releaseIdleInhibitor();
}

bool LogindSession::canSuspend()
{
    const QDBusMessage reply =
        call(managerPath, managerInterface, QStringLiteral("CanSuspend"), {});
    return succeeded(reply) && reply.arguments().value(0).toString() == QLatin1String("yes");
}

bool LogindSession::suspend()
{
    // Not interactive: nobody is at the machine to answer a password prompt.
    return succeeded(call(managerPath, managerInterface, QStringLiteral("Suspend"), {false}));
}

bool LogindSession::lock()
{
    const QString id = qEnvironmentVariable("XDG_SESSION_ID");
    if (!id.isEmpty() &&
        succeeded(call(managerPath, managerInterface, QStringLiteral("LockSession"), {id})))
        return true;
    const QDBusMessage byPid =
        call(managerPath, managerInterface, QStringLiteral("GetSessionByPID"),
             {static_cast<std::uint32_t>(::getpid())});
    if (succeeded(byPid) && !byPid.arguments().isEmpty()) {
        const QString path = qvariant_cast<QDBusObjectPath>(byPid.arguments().first()).path();
        if (!path.isEmpty() && succeeded(call(path, sessionInterface, QStringLiteral("Lock"), {})))
            return true;
    }
    return succeeded(call(autoSessionPath, sessionInterface, QStringLiteral("Lock"), {}));
}

bool LogindSession::setBrightness(const QString& device, std::uint32_t value)
{
    return succeeded(call(autoSessionPath, sessionInterface, QStringLiteral("SetBrightness"),
                          {QStringLiteral("backlight"), device, value}));
}

bool LogindSession::holdIdleInhibitor(bool* absent)
{
    if (m_inhibitorFd >= 0)
        return true;
    const QDBusMessage reply =
        call(managerPath, managerInterface, QStringLiteral("Inhibit"),
             {QStringLiteral("sleep:idle"), QStringLiteral("Orvane"),
              QStringLiteral("Orvane keeps the computer reachable from the phone"),
              QStringLiteral("block")});
    if (absent)
        *absent = nobodyAnswered(reply);
    if (!succeeded(reply) || reply.arguments().isEmpty())
        return false;
    const auto descriptor = qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().first());
    if (!descriptor.isValid())
        return false;
    // Our own copy: the reply's closes with the message, and the inhibitor
    // ends when the last copy is closed.
    m_inhibitorFd = ::fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    return m_inhibitorFd >= 0;
}

void LogindSession::releaseIdleInhibitor()
{
    if (m_inhibitorFd >= 0) {
        ::close(m_inhibitorFd);
        m_inhibitorFd = -1;
    }
}

} // namespace orvane
