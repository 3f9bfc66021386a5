#pragma once

#include "portal_session.h"

#include <QDBusConnection>

#include <memory>

namespace orvane {

// The sessions of one backend: the remote-desktop session that input needs
// (its screens serve viewers too), and a screen cast alone for viewers while
// no input has been asked for. Each is asked for once per run.
class PortalSessions final : public PortalAccess {
public:
    PortalSessions(QDBusConnection bus, PortalTokenStore tokens,
                   std::chrono::milliseconds deadline);

    PortalApproval inputApproval() override;
    PortalApproval screenApproval() override;
    void askAgain() override;

    // The remote-desktop session, started when needed.
    std::shared_ptr<PortalSession> input();
    // The session whose streams viewers get: the remote-desktop one once it
    // is asked for, a screen cast alone before.
    std::shared_ptr<PortalSession> screens();
    // The remote-desktop session when it can take input now.
    PortalSession* grantedInput();

private:
    std::shared_ptr<PortalSession> make(PortalSession::Kind kind);

    QDBusConnection m_bus;
    PortalTokenStore m_tokens;
    std::chrono::milliseconds m_deadline;
    std::shared_ptr<PortalSession> m_input;
    std::shared_ptr<PortalSession> m_screens;
};

PortalApproval portalApproval(const PortalSession* session, bool needsDevices);

std::unique_ptr<InputDevice> makePortalInputDevice(std::shared_ptr<PortalSessions> sessions);
std::shared_ptr<ScreenStreamOpener>
makePortalStreamOpener(std::shared_ptr<PortalSessions> sessions);

} // namespace orvane
