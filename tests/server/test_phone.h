#pragma once

#include "fake_transport.h"

#include "protocol/codec.h"
#include "protocol/random.h"
#include "protocol/secure_session.h"
#include "server/orvane_server.h"

#include <deque>

namespace orvane::test {

// The phone's side of a connection, over a fake transport registered with
// the server: it reads what the server sent and answers like the app does.
class TestPhone {
public:
    TestPhone(OrvaneServer& server, RandomSource& random, std::string name = "Test Phone");

    const Uuid& connectionID() const { return m_connectionID; }
    const Uuid& deviceID() const { return m_deviceID; }
    void setDeviceID(const Uuid& id) { m_deviceID = id; }
    FakeTransport::Shared& transport() { return *m_transport; }
    bool closed() const { return m_transport->cancelled; }

    void sendHello(bool hasToken);
    void sendHelloWithKey(Bytes publicKey, bool hasToken);
    void sendPlain(const OrvaneMessage& message);
    void sendRaw(ByteView bytes);
    // Keys the phone's session the way the user's choice would.
    void useCode(const std::string& code);
    void useQr(const std::string& qrKey, const std::string& code);
    void useToken(const std::string& token);
    void sendSealed(const OrvaneMessage& message);
    void sendSealedBody(FrameKind innerKind, ByteView body);
    // A sealed frame for the message, not sent.
    Bytes sealedFrame(const OrvaneMessage& message);
    Bytes lastSealedRecord() const { return m_lastRecord; }

    // Everything the server sent since the last call, decoded; sealed ones
    // are opened with the phone's session.
    struct Received {
        OrvaneMessage message;
        bool sealed;
    };
    std::vector<Received> takeReceived();
    // The macPublicKey from the keyExchange seen so far.
    const Bytes& macPublicKey() const { return m_macPublicKey; }

private:
    void learnMacKey();

    std::shared_ptr<FakeTransport::Shared> m_transport;
    Uuid m_connectionID;
    Uuid m_deviceID;
    std::string m_name;
    crypto::X25519KeyPair m_keys;
    Bytes m_macPublicKey;
    std::shared_ptr<SecureSession> m_session;
    std::size_t m_read = 0;
    Bytes m_lastRecord;
};

} // namespace orvane::test
