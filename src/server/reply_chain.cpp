#include "reply_chain.h"

namespace orvane {

ReplyChain::ReplyChain(std::weak_ptr<FramedConnection> connection, Make make)
    : m_connection(std::move(connection)), m_make(std::move(make))
{
}

void ReplyChain::add(const std::vector<std::string>& keys)
{
    for (const std::string& key : keys) {
        if (m_pending.size() >= maximumWaiting)
            break;
        if (m_pendingKeys.insert(key).second)
            m_pending.push_back(key);
    }
    next();
}

void ReplyChain::next()
{
    if (m_busy || m_pending.empty())
        return;
    auto connection = m_connection.lock();
    if (!connection)
        return;
    m_busy = true;
    std::weak_ptr<ReplyChain> weak = weak_from_this();
    connection->whenWritable([weak] {
        if (auto self = weak.lock())
            self->produce();
    });
}

void ReplyChain::produce()
{
    auto connection = m_connection.lock();
    if (!connection || m_pending.empty()) {
        m_busy = false;
        return;
    }
    std::string key = std::move(m_pending.front());
    m_pending.pop_front();
    m_pendingKeys.erase(key);
    std::optional<OrvaneMessage> reply = m_make(key);
    std::weak_ptr<ReplyChain> weak = weak_from_this();
    auto done = [weak](const std::optional<QString>&) {
        if (auto self = weak.lock()) {
            self->m_busy = false;
            self->next();
        }
    };
    if (reply)
        connection->sendMessage(*reply, done);
    else
        done(std::nullopt);
}

} // namespace orvane
