#include "test_phone.h"

#include <stdexcept>

namespace orvane::test {

TestPhone::TestPhone(OrvaneServer& server, RandomSource& random, std::string name)
    : m_transport(std::make_shared<FakeTransport::Shared>()),
      m_connectionID(makeUuid(random)), m_deviceID(makeUuid(random)), m_name(std::move(name)),
      m_keys(*crypto::x25519KeyPair(makeKey(random)))
{
    auto connection = std::make_shared<FramedConnection>(
        TransportPtr(new FakeTransport(m_transport)), false);
    server.acceptConnection(connection, m_connectionID);
}

void TestPhone::sendHello(bool hasToken)
{
    sendHelloWithKey(Bytes(m_keys.publicKey.begin(), m_keys.publicKey.end()), hasToken);
}

void TestPhone::sendHelloWithKey(Bytes publicKey, bool hasToken)
{
    sendPlain(msg::Hello{m_name, m_deviceID, std::move(publicKey), hasToken});
}

void TestPhone::sendPlain(const OrvaneMessage& message)
{
    sendRaw(encodeFrame(FrameKind::message, asBytes(*encodeMessage(message))));
}

void TestPhone::sendRaw(ByteView bytes)
{
    if (m_transport->callbacks.onBinary)
        m_transport->callbacks.onBinary(bytes);
}

void TestPhone::learnMacKey()
{
    for (const Bytes& sent : m_transport->sent) {
        FrameEvent event = dispatchFrame(ByteView(sent).subspan(4), nullptr);
        if (auto* plain = std::get_if<frame_event::PlainMessage>(&event))
            if (auto* exchange = std::get_if<msg::KeyExchange>(&plain->message))
                m_macPublicKey = exchange->publicKey;
    }
}

void TestPhone::useCode(const std::string& code)
{
    learnMacKey();
    m_session = SecureSession::create(SessionSide::phone, m_keys.privateKey, m_macPublicKey,
                                      pairingCodeSalt(code));
}

void TestPhone::useQr(const std::string& qrKey, const std::string& code)
{
    learnMacKey();
    m_session = SecureSession::create(SessionSide::phone, m_keys.privateKey, m_macPublicKey,
                                      qrSalt(qrKey, code));
}

void TestPhone::useToken(const std::string& token)
{
    learnMacKey();
    m_session = SecureSession::create(SessionSide::phone, m_keys.privateKey, m_macPublicKey,
                                      reconnectSalt(hexDigest(token)));
}

void TestPhone::sendSealed(const OrvaneMessage& message)
{
    sendSealedBody(FrameKind::message, asBytes(*encodeMessage(message)));
}

void TestPhone::sendSealedBody(FrameKind innerKind, ByteView body)
{
    if (!m_session)
        throw std::logic_error("no phone session");
    Bytes frame = *m_session->sealFrame(innerKind, body);
    m_lastRecord.assign(frame.begin() + frameHeaderSize, frame.end());
    sendRaw(frame);
}

Bytes TestPhone::sealedFrame(const OrvaneMessage& message)
{
    if (!m_session)
        throw std::logic_error("no phone session");
    return *m_session->sealFrame(FrameKind::message, asBytes(*encodeMessage(message)));
}

std::vector<TestPhone::Received> TestPhone::takeReceived()
{
    std::vector<Received> out;
    for (; m_read < m_transport->sent.size(); ++m_read) {
        ByteView frame(m_transport->sent[m_read]);
        frame = frame.subspan(4); // the length
        FrameEvent event = dispatchFrame(frame, m_session.get());
        if (auto* plain = std::get_if<frame_event::PlainMessage>(&event)) {
            if (auto* exchange = std::get_if<msg::KeyExchange>(&plain->message))
                m_macPublicKey = exchange->publicKey;
            out.push_back({plain->message, false});
        } else if (auto* sealed = std::get_if<frame_event::Message>(&event)) {
            out.push_back({sealed->message, true});
        }
    }
    return out;
}

} // namespace orvane::test
