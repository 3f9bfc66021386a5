#include "phone_session.h"

#include "connection_guard.h"

namespace orvane {

PhoneSession::PhoneSession(const Uuid& id, std::shared_ptr<FramedConnection> connection,
                           const Budgets& budgets)
    : m_id(id), m_connection(std::move(connection)), m_frameBudget(budgets.frames)
{
    m_connection->setFrameLengthLimit(ConnectionGuard::unauthenticatedFrameLimit);
    m_connection->setFrameBudget(&m_frameBudget, id);
    m_connection->setOutputBudget(budgets.outputBytes, budgets.overOutputCloseMs);
}

void PhoneSession::installKeys(const SessionKeys& keys)
{
    m_connection->session = std::make_shared<SecureSession>(keys);
}

void PhoneSession::authenticate(const Uuid& deviceID)
{
    m_connection->setFrameLengthLimit(maximumFrameLength);
    m_connection->setFrameBudget(&m_frameBudget, deviceID);
}

} // namespace orvane
