#pragma once

#include "fake_transport.h"
#include "handshake_loopback.h"

#include "server/orvane_server.h"

namespace orvane::test {

// A phone on a fake transport registered with the server. Its handshake is
// the protocol core's own; the test reads what the server sent and decides
// what the phone does next.
class TestPhone {
public:
    TestPhone(OrvaneServer& server, std::string name = "Test Phone");
    // A phone on a transport the server opened itself (a relay link).
    TestPhone(std::shared_ptr<FakeTransport::Shared> transport, std::string name);
    TestPhone(const TestPhone&) = delete;
    TestPhone& operator=(const TestPhone&) = delete;

    const Uuid& connectionID() const { return m_connectionID; }
    const Uuid& deviceID() const { return m_deviceID; }
    void setDeviceID(const Uuid& id) { m_deviceID = id; }
    FakeTransport::Shared& transport() { return *m_transport; }
    bool closed() const { return m_transport->cancelled; }
    const PhoneHandshake& handshake() const { return m_phone.handshake; }

    void hello(bool hasToken);
    void reconnect(const std::string& token)
    {
        m_phone.carryOut(m_phone.handshake.reconnect(token));
    }
    void typeCode(const std::string& code) { m_phone.carryOut(m_phone.handshake.useCode(code)); }

    void send(const OrvaneMessage& message); // sealed
    void sendPlain(const OrvaneMessage& message);
    void sendSealedBody(FrameKind innerKind, ByteView body);
    void sendRaw(ByteView bytes);
    // The first bytes of a sealed frame whose body (after the inner kind)
    // is to be `bodySize` bytes long; the rest never comes.
    Bytes sealedRecordHead(FrameKind innerKind, std::uint32_t bodySize);
    Bytes lastFrame() const { return m_lastFrame; }

    // Everything the server sent since the last call, decoded with the
    // phone's session of that moment; the handshake sees it first.
    struct Received {
        OrvaneMessage message;
        bool sealed;
    };
    std::vector<Received> takeReceived();
    // The binary frames (screen pictures) that arrived since the last call.
    std::vector<Bytes> takeBinaries();

private:
    // Decodes what arrived, lets the handshake see it, and keeps it for
    // takeReceived().
    void readNew();

    std::shared_ptr<FakeTransport::Shared> m_transport;
    Uuid m_connectionID;
    Uuid m_deviceID;
    std::string m_name;
    loopback::PhoneDriver m_phone{[this](const OrvaneMessage& message, bool sealed) {
        sealed ? send(message) : sendPlain(message);
    }};
    std::size_t m_read = 0;
    std::vector<Received> m_unread;
    std::vector<Bytes> m_binaries;
    Bytes m_lastFrame;
};

template <class M> std::optional<M> find(const std::vector<TestPhone::Received>& received)
{
    for (const auto& r : received)
        if (auto* m = std::get_if<M>(&r.message))
            return *m;
    return std::nullopt;
}

} // namespace orvane::test
