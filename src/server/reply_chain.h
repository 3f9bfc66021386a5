#pragma once

#include "framed_connection.h"

#include <deque>
#include <memory>
#include <set>
#include <string>

namespace orvane {

// Replies that cost time and bytes (icons, thumbnails), made one at a time
// for one connection: the next only once the last has been written and the
// connection's output is within its budget. Asking again for what is still
// waiting adds nothing, so repeated requests cannot pile up replies.
class ReplyChain : public std::enable_shared_from_this<ReplyChain> {
public:
    // Makes the reply for a key, or nothing when there is none to give.
    using Make = std::function<std::optional<OrvaneMessage>(const std::string& key)>;
    // More keys than a launcher shows are not worth waiting for.
    static constexpr std::size_t maximumWaiting = 1000;

    ReplyChain(std::weak_ptr<FramedConnection> connection, Make make);

    void add(const std::vector<std::string>& keys);
    std::size_t waiting() const { return m_pending.size(); }

private:
    void next();
    void produce();

    std::weak_ptr<FramedConnection> m_connection;
    Make m_make;
    std::deque<std::string> m_pending;
    std::set<std::string> m_pendingKeys;
    bool m_busy = false;
};

struct ConnectionReplies {
    std::shared_ptr<ReplyChain> icons;
    std::shared_ptr<ReplyChain> thumbnails;
};

} // namespace orvane
