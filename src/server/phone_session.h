#pragma once

#include "framed_connection.h"
#include "protocol/computer_handshake.h"
#include "reply_chain.h"

#include <QString>

#include <memory>
#include <optional>

namespace orvane {

// A connection that finished its handshake: which phone it is.
struct PhoneDevice {
    Uuid id;       // the connection id
    Uuid deviceID; // the phone's own id
    QString name;
    bool operator==(const PhoneDevice&) const = default;
};

// Everything the registry keeps for one connection, from its first byte to
// its end: the transport (TCP or a relay link) with its sealed session and
// its budgets, the handshake, and the replies that go out one at a time.
// Which phone it is, once authenticated, the registry's list of devices says. Closing the
// connection is destroying this.
class PhoneSession {
public:
    struct Budgets {
        FrameBudget& frames;
        std::size_t outputBytes;
        int overOutputCloseMs;
    };

    // Until it authenticates, a connection is its own owner in the frame
    // budget, with small frames only.
    PhoneSession(const Uuid& id, std::shared_ptr<FramedConnection> connection,
                 const Budgets& budgets);

    PhoneSession(const PhoneSession&) = delete;
    PhoneSession& operator=(const PhoneSession&) = delete;

    const Uuid& id() const { return m_id; }
    FramedConnection& connection() const { return *m_connection; }
    const std::shared_ptr<FramedConnection>& sharedConnection() const { return m_connection; }

    // The keys the handshake agreed on; every later message is sealed.
    void installKeys(const SessionKeys& keys);
    // The handshake is done: frames of any length, drawn on the phone's own
    // share of the frame budget, which all its connections share.
    void authenticate(const Uuid& deviceID);

    // The handshake while it runs; none once the phone is in.
    std::optional<ComputerHandshake> handshake;
    // Icons and thumbnails, made one at a time; built on first use.
    ConnectionReplies replies;

private:
    Uuid m_id;
    std::shared_ptr<FramedConnection> m_connection;
    FrameBudget& m_frameBudget;
};

} // namespace orvane
