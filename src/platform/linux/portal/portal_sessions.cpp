#include "portal_sessions.h"

#include "portal_call.h"

#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>

namespace orvane {

namespace {

// Long enough to read the dialog and decide; input waits no longer.
constexpr std::chrono::seconds dialogDeadline{60};
// The property is read when choosing a backend, before the event loop runs
// the rest; a portal that has not answered by then is not relied on.
constexpr int propertyTimeoutMs = 300;

} // namespace

PortalApproval portalApproval(const PortalSession* session, bool needsDevices)
{
    if (!session)
        return PortalApproval::notAsked;
    switch (session->state()) {
    case PortalSession::State::idle:
        return PortalApproval::notAsked;
    case PortalSession::State::starting:
        return PortalApproval::asking;
    case PortalSession::State::unavailable:
        return PortalApproval::unavailable;
    case PortalSession::State::declined:
        return PortalApproval::declined;
    case PortalSession::State::started:
        break;
    }
    // "Allow remote interaction" left off: the screens are shared, input not.
    if (needsDevices && !(session->devices() & (portal::keyboard | portal::pointer)))
        return PortalApproval::declined;
    if (!needsDevices && session->streams().empty())
        return PortalApproval::declined;
    return PortalApproval::granted;
}

PortalSessions::PortalSessions(QDBusConnection bus, PortalTokenStore tokens,
                               std::chrono::milliseconds deadline)
    : m_bus(std::move(bus)), m_tokens(std::move(tokens)), m_deadline(deadline)
{
}

std::shared_ptr<PortalSession> PortalSessions::make(PortalSession::Kind kind)
{
    auto session = std::make_shared<PortalSession>(m_bus, kind, m_tokens, m_deadline);
    session->start();
    return session;
}

PortalApproval PortalSessions::inputApproval()
{
    return portalApproval(m_input.get(), true);
}

PortalApproval PortalSessions::screenApproval()
{
    const PortalApproval input = portalApproval(m_input.get(), false);
    if (input == PortalApproval::granted || input == PortalApproval::asking)
        return input;
    return portalApproval(m_screens.get(), false);
}

void PortalSessions::askAgain()
{
    // Dropping a session that streams still use only ends it with them.
    if (inputApproval() == PortalApproval::declined)
        m_input.reset();
    if (portalApproval(m_screens.get(), false) == PortalApproval::declined)
        m_screens.reset();
}

std::shared_ptr<PortalSession> PortalSessions::input()
{
    if (!m_input)
        m_input = make(PortalSession::Kind::remoteDesktop);
    return m_input;
}

std::shared_ptr<PortalSession> PortalSessions::screens()
{
    const PortalApproval input = portalApproval(m_input.get(), false);
    if (input == PortalApproval::granted || input == PortalApproval::asking)
        return m_input;
    if (!m_screens)
        m_screens = make(PortalSession::Kind::screenCast);
    return m_screens;
}

PortalSession* PortalSessions::grantedInput()
{
    return inputApproval() == PortalApproval::granted ? m_input.get() : nullptr;
}

unsigned portalRemoteDesktopDeviceTypes(const QDBusConnection& bus)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        portal::service, portal::path, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    call << portal::remoteDesktop << QStringLiteral("AvailableDeviceTypes");
    // No activation: starting a portal that is not running takes seconds.
    call.setAutoStartService(false);
    const QDBusReply<QDBusVariant> reply = bus.call(call, QDBus::Block, propertyTimeoutMs);
    return reply.isValid() ? reply.value().variant().toUInt() : 0;
}

PortalBackend makePortalBackend(const QDBusConnection& bus, PortalTokenStore tokens)
{
    auto sessions = std::make_shared<PortalSessions>(bus, std::move(tokens), dialogDeadline);
    return {makePortalInputDevice(sessions), makePortalStreamOpener(sessions), sessions};
}

} // namespace orvane
