#include "test_phone.h"

#include "protocol/codec.h"

#include <stdexcept>

namespace orvane::test {

TestPhone::TestPhone(OrvaneServer& server, std::string name)
    : m_transport(std::make_shared<FakeTransport::Shared>()),
      m_connectionID(makeUuid(systemRandom())), m_deviceID(makeUuid(systemRandom())),
      m_name(std::move(name))
{
    server.acceptConnection(
        std::make_shared<FramedConnection>(TransportPtr(new FakeTransport(m_transport))),
        m_connectionID);
}

TestPhone::TestPhone(std::shared_ptr<FakeTransport::Shared> transport, std::string name)
    : m_transport(std::move(transport)), m_deviceID(makeUuid(systemRandom())),
      m_name(std::move(name))
{
}

void TestPhone::hello(bool hasToken)
{
    m_phone.start(m_name, m_deviceID, hasToken, systemRandom());
    readNew(); // the key exchange, if it came
}

void TestPhone::sendPlain(const OrvaneMessage& message)
{
    sendRaw(encodeFrame(FrameKind::message, asBytes(*encodeMessage(message))));
}

void TestPhone::send(const OrvaneMessage& message)
{
    sendSealedBody(FrameKind::message, asBytes(*encodeMessage(message)));
}

void TestPhone::sendSealedBody(FrameKind innerKind, ByteView body)
{
    if (!m_phone.session.current)
        throw std::logic_error("the phone has no session");
    sendRaw(*m_phone.session.current->sealFrame(innerKind, body));
}

Bytes TestPhone::sealedRecordHead(FrameKind innerKind, std::uint32_t bodySize)
{
    if (!m_phone.session.current)
        throw std::logic_error("the phone has no session");
    Bytes frame = *m_phone.session.current->sealFrame(innerKind, Bytes(64, 0));
    frame.resize(frame.size() - crypto::tagSize);
    const std::uint32_t length = 1 + sealedRecordOverhead + 1 + bodySize;
    for (int i = 0; i < 4; ++i)
        frame[i] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
    return frame;
}

void TestPhone::sendRaw(ByteView bytes)
{
    m_lastFrame.assign(bytes.begin(), bytes.end());
    if (m_transport->callbacks.onBinary)
        m_transport->callbacks.onBinary(bytes);
}

std::vector<TestPhone::Received> TestPhone::takeReceived()
{
    readNew();
    return std::exchange(m_unread, {});
}

std::vector<Bytes> TestPhone::takeBinaries()
{
    readNew();
    return std::exchange(m_binaries, {});
}

void TestPhone::readNew()
{
    std::vector<Received>& out = m_unread;
    while (m_read < m_transport->sent.size()) {
        ByteView frame = ByteView(m_transport->sent[m_read++]).subspan(4); // past the length
        FrameEvent event = dispatchFrame(frame, m_phone.session.current.get());
        m_phone.receive(event);
        if (auto* plain = std::get_if<frame_event::PlainMessage>(&event))
            out.push_back({std::move(plain->message), false});
        else if (auto* sealed = std::get_if<frame_event::Message>(&event))
            out.push_back({std::move(sealed->message), true});
        else if (auto* binary = std::get_if<frame_event::Binary>(&event))
            m_binaries.push_back(std::move(binary->body));
    }
}

} // namespace orvane::test
