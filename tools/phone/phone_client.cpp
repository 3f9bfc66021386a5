#include "phone_client.h"

#include "relay_stream.h"

#include "protocol/codec.h"
#include "protocol/overloaded.h"
#include "protocol/random.h"
#include "protocol/secure_session.h"

#include <filesystem>
#include <fstream>

namespace orvane::phone {
namespace {

Error prefixed(const std::string& prefix, const Error& error)
{
    return Error{prefix + ": " + error.message, error.where};
}

Result<Bytes> readWholeFile(const std::filesystem::path& path)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        return failure("cannot send " + path.string() + ": not a readable file");
    }
    const auto size = std::filesystem::file_size(path, ec);
    // The record also carries the inner kind, id, name length and the seal.
    if (ec || size >= maximumFrameLength) {
        return failure("cannot send " + path.string() + ": larger than one frame may carry");
    }
    std::ifstream in(path, std::ios::binary);
    Bytes contents(size);
    if (!in.read(reinterpret_cast<char*>(contents.data()), static_cast<std::streamsize>(size))) {
        return failure("cannot read " + path.string());
    }
    return contents;
}

// What the handshake makes of a message, as the frame it came in.
FrameEvent asEvent(Received received)
{
    if (received.sealed) {
        return frame_event::Message{std::move(received.message)};
    }
    return frame_event::PlainMessage{std::move(received.message)};
}

} // namespace

namespace {
// How long a phone in a relay room waits for the key exchange before it says
// hello again.
constexpr auto helloResendInterval = std::chrono::milliseconds(500);
} // namespace

PhoneClient::PhoneClient() = default;
PhoneClient::~PhoneClient() = default;

Status PhoneClient::connect(const std::string& host, std::uint16_t port, int timeoutMs)
{
    close();
    auto tcp = std::make_unique<TcpStream>();
    Status connected = tcp->connect(host, port, timeoutMs);
    m_stream = std::move(tcp);
    m_overRelay = false;
    return connected;
}

Status PhoneClient::connectRelay(const std::string& roomAddress, int timeoutMs)
{
    close();
    auto relay = std::make_unique<RelayStream>();
    Status connected = relay->connect(roomAddress, timeoutMs);
    m_stream = std::move(relay);
    m_overRelay = true;
    return connected;
}

void PhoneClient::attach(int fd)
{
    close();
    auto tcp = std::make_unique<TcpStream>();
    tcp->attach(fd);
    m_stream = std::move(tcp);
}

void PhoneClient::close()
{
    m_stream->close();
    m_decoder.reset();
    m_frames.clear();
    m_streamError.clear();
    m_peerClosed = false;
    m_handshake = PhoneHandshake{};
    m_session.reset();
}

Result<msg::KeyExchange> PhoneClient::hello(const std::string& deviceName, const Uuid& deviceID,
                                            bool hasToken)
{
    // A fresh key pair per connection: one recorded session says nothing
    // about the next. It was made while the last one waited for its answer.
    std::optional<crypto::X25519Key> key = std::move(m_nextKey);
    m_nextKey.reset();
    if (!key) {
        key = crypto::X25519Key::fromPrivate(makeKey(systemRandom()));
    }
    if (!key) {
        return failure("could not make a key pair");
    }
    m_session.reset();
    Step sent;
    const PhoneActions greeting =
        m_handshake.start(deviceName, deviceID, hasToken, std::move(*key));
    if (auto done = carryOut(greeting, sent); !done) {
        return done.error();
    }
    // The computer needs a moment for its side of the agreement: time
    // enough to make the key for the next connection.
    m_nextKey = crypto::X25519Key::fromPrivate(makeKey(systemRandom()));
    const auto deadline = deadlineAfter(m_timeoutMs);
    auto resendAt = Clock::now() + helloResendInterval;
    while (m_handshake.state() == PhoneHandshake::State::awaitingKeyExchange) {
        auto next = receiveUntil(m_overRelay ? std::min(deadline, resendAt) : deadline);
        if (!next && m_overRelay && isTimeout(next.error()) && Clock::now() < deadline) {
            // A relay drops what a phone sends while the computer is not in
            // the room, as happens for a moment after another phone left.
            // The computer answers the first hello it gets and no other.
            if (auto again = carryOut(greeting, sent); !again) {
                return again.error();
            }
            resendAt = Clock::now() + helloResendInterval;
            continue;
        }
        if (!next) {
            return prefixed("no key exchange from the computer", next.error());
        }
        Step step;
        if (auto done = carryOut(m_handshake.onFrame(asEvent(std::move(*next))), step); !done) {
            return done.error();
        }
        if (step.rejected) {
            return failure("the computer refused the connection: " + *step.rejected);
        }
        if (step.closed) {
            return failure(*step.closed);
        }
    }
    return *m_handshake.keyExchange();
}

Status PhoneClient::carryOut(const PhoneActions& actions, Step& step)
{
    for (const PhoneAction& action : actions) {
        const Status done =
            std::visit(Overloaded{
                           [&](const handshake::SendPlain& a) { return sendPlain(a.message); },
                           [&](const handshake::SendSealed& a) { return send(a.message); },
                           [&](const handshake::InstallKeys& a) {
                               // Each attempt starts a new session: the computer's counters
                               // for a failed attempt never advanced, and the keys may differ.
                               m_session = std::make_shared<SecureSession>(a.keys);
                               return success();
                           },
                           [&](const handshake::CodeWanted&) {
                               m_session.reset();
                               step.codeWanted = true;
                               return success();
                           },
                           [&](const handshake::WrongCode& a) {
                               m_session.reset();
                               step.wrongCode = a.attemptsLeft;
                               return success();
                           },
                           [&](const handshake::Rejected& a) {
                               m_session.reset();
                               step.rejected = a.reason;
                               return success();
                           },
                           [&](const handshake::Paired& a) {
                               step.token = a.token;
                               return success();
                           },
                           [&](const handshake::Authenticated&) {
                               step.authenticated = true;
                               return success();
                           },
                           [&](const handshake::Close& a) {
                               step.closed = a.why;
                               return success();
                           },
                       },
                       action);
        if (!done) {
            return done;
        }
    }
    return success();
}

Result<PhoneClient::Step> PhoneClient::step(const PhoneActions& actions, const char* waitingFor)
{
    Step step;
    if (auto done = carryOut(actions, step); !done) {
        return done.error();
    }
    const auto deadline = deadlineAfter(m_timeoutMs);
    while (!step.ended()) {
        auto next = receiveUntil(deadline);
        if (!next) {
            return prefixed(waitingFor, next.error());
        }
        if (auto done = carryOut(m_handshake.onFrame(asEvent(std::move(*next))), step); !done) {
            return done.error();
        }
    }
    return step;
}

Result<ReconnectOutcome> PhoneClient::reconnect(const std::string& token)
{
    if (!m_handshake.keyExchange()) {
        return failure("no key exchange yet: call hello first");
    }
    if (m_handshake.state() == PhoneHandshake::State::awaitingCode) {
        return ReconnectOutcome{ReconnectOutcome::Kind::pairingRequired, {}};
    }
    auto outcome = step(m_handshake.reconnect(token), "no answer to reconnecting");
    if (!outcome) {
        return outcome.error();
    }
    if (outcome->rejected) {
        return failure("the computer refused the connection: " + *outcome->rejected);
    }
    if (outcome->closed) {
        return failure(*outcome->closed);
    }
    if (outcome->codeWanted) {
        // The computer has already moved on to pairing with its own keys.
        return ReconnectOutcome{ReconnectOutcome::Kind::pairingRequired, {}};
    }
    return ReconnectOutcome{ReconnectOutcome::Kind::connected, *m_handshake.welcome()};
}

Result<PairOutcome> PhoneClient::pairWithCode(const std::string& code)
{
    if (!isPairingCode(code)) {
        return failure("a pairing code is six digits, not \"" + code + "\"");
    }
    return pairingOutcome(m_handshake.useCode(code));
}

Result<PairOutcome> PhoneClient::pairWithQrUrl(const std::string& url)
{
    auto pairing = parsePairingUrl(url);
    if (!pairing) {
        return pairing.error();
    }
    return pairWithQr(*pairing);
}

Result<PairOutcome> PhoneClient::pairWithQr(const PairingUrl& pairing)
{
    return pairingOutcome(m_handshake.useQr(pairing));
}

Result<PairOutcome> PhoneClient::pairingOutcome(const PhoneActions& actions)
{
    if (!m_handshake.keyExchange()) {
        return failure("no key exchange yet: call hello first");
    }
    if (actions.empty()) {
        return failure("the computer is not waiting for a code on this connection");
    }
    auto outcome = step(actions, "no answer to the pairing attempt");
    if (!outcome) {
        return outcome.error();
    }
    PairOutcome result;
    if (outcome->wrongCode) {
        result.kind = PairOutcome::Kind::wrongCode;
        result.remainingAttempts = *outcome->wrongCode;
    } else if (outcome->rejected) {
        result.kind = PairOutcome::Kind::rejected;
        result.reason = *outcome->rejected;
    } else if (outcome->closed) {
        return failure(*outcome->closed);
    } else {
        result.kind = PairOutcome::Kind::paired;
        result.token = m_handshake.token().value_or("");
        result.welcome = *m_handshake.welcome();
    }
    return result;
}

std::optional<std::string> PhoneClient::pendingRejection(int waitMs)
{
    (void)fillQueue(deadlineAfter(waitMs));
    for (auto it = m_frames.begin(); it != m_frames.end(); ++it) {
        if (it->empty() || (*it)[0] != static_cast<std::uint8_t>(FrameKind::message)) {
            continue;
        }
        auto decoded = decodeMessage(ByteView(*it).subspan(1));
        if (decoded && std::holds_alternative<msg::PairingRejected>(*decoded)) {
            std::string reason = std::get<msg::PairingRejected>(*decoded).value;
            m_frames.erase(it);
            return reason;
        }
    }
    return std::nullopt;
}

Status PhoneClient::sendBytes(ByteView bytes)
{
    if (!m_stream->isOpen()) {
        return failure("not connected to a computer");
    }
    return m_stream->sendAll(bytes, deadlineAfter(m_timeoutMs));
}

Status PhoneClient::sendPlain(const OrvaneMessage& message)
{
    auto json = encodeMessage(message);
    if (!json) {
        return failure("cannot encode " + std::string(caseName(message)) + ": " +
                       json.error().message);
    }
    return sendBytes(encodeFrame(FrameKind::message, asBytes(*json)));
}

Status PhoneClient::send(const OrvaneMessage& message)
{
    auto json = encodeMessage(message);
    if (!json) {
        return failure("cannot encode " + std::string(caseName(message)) + ": " +
                       json.error().message);
    }
    return sendSealed(static_cast<std::uint8_t>(FrameKind::message), asBytes(*json));
}

Status PhoneClient::sendSealed(std::uint8_t innerKind, ByteView body)
{
    if (!m_session) {
        return failure("no secure session with the computer");
    }
    auto frame = m_session->sealFrame(static_cast<FrameKind>(innerKind), body);
    if (!frame) {
        return failure("cannot seal a record of " + std::to_string(body.size()) + " bytes");
    }
    return sendBytes(*frame);
}

Result<Uuid> PhoneClient::sendFile(const std::string& path)
{
    auto contents = readWholeFile(path);
    if (!contents) {
        return contents.error();
    }
    return sendFile(*contents, std::filesystem::path(path).filename().string());
}

Result<Uuid> PhoneClient::sendFile(ByteView contents, const std::string& name)
{
    FileBody file{makeUuid(systemRandom()), name, Bytes(contents.begin(), contents.end())};
    if (auto sent = sendSealed(static_cast<std::uint8_t>(FrameKind::file), encodeFileBody(file));
        !sent) {
        return sent.error();
    }
    return file.transferID;
}

Result<Uuid> PhoneClient::run(const OrvaneCommand& command)
{
    const Uuid id = makeUuid(systemRandom());
    if (auto sent = send(msg::Run{id, command}); !sent) {
        return sent.error();
    }
    return id;
}

Result<msg::Result> PhoneClient::waitForResult(const Uuid& id, int timeoutMs)
{
    return resultUntil(id, deadlineAfter(timeoutMs));
}

Result<msg::Result> PhoneClient::resultUntil(const Uuid& id, Clock::time_point deadline)
{
    for (;;) {
        auto next = receiveUntil(deadline);
        if (!next) {
            return prefixed("no result from the computer", next.error());
        }
        auto* result = std::get_if<msg::Result>(&next->message);
        if (result && next->sealed && result->id == id) {
            return std::move(*result);
        }
    }
}

Status PhoneClient::fillQueue(Clock::time_point deadline)
{
    Bytes chunk;
    while (m_frames.empty()) {
        if (!m_streamError.empty()) {
            return failure(m_streamError);
        }
        chunk.clear();
        switch (m_stream->readSome(chunk, deadline)) {
        case ByteStream::ReadStatus::data:
            break;
        case ByteStream::ReadStatus::timeout:
            return Error{"timed out waiting for the computer", std::string(timeoutMarker)};
        case ByteStream::ReadStatus::closed:
            m_peerClosed = true;
            m_streamError = "the computer closed the connection";
            continue;
        case ByteStream::ReadStatus::error:
            m_streamError = "reading from the computer failed: " + m_stream->lastError();
            continue;
        }
        const auto status = m_decoder.feed(chunk, [this](Bytes&& frame) {
            m_frames.push_back(std::move(frame));
            return true;
        });
        if (status == FrameDecoder::Status::close) {
            m_streamError = "the computer sent a frame with an impossible length";
        }
    }
    return success();
}

Result<FrameEvent> PhoneClient::receiveEvent(int timeoutMs)
{
    if (auto filled = fillQueue(deadlineAfter(timeoutMs)); !filled) {
        return filled.error();
    }
    Bytes frame = std::move(m_frames.front());
    m_frames.pop_front();
    return dispatchFrame(std::move(frame), m_session.get());
}

Result<Received> PhoneClient::receive(int timeoutMs)
{
    return receiveUntil(deadlineAfter(timeoutMs));
}

Result<Received> PhoneClient::receiveUntil(Clock::time_point deadline)
{
    for (;;) {
        if (auto filled = fillQueue(deadline); !filled) {
            return filled.error();
        }
        Bytes frame = std::move(m_frames.front());
        m_frames.pop_front();
        FrameEvent event = dispatchFrame(std::move(frame), m_session.get());
        if (auto* plain = std::get_if<frame_event::PlainMessage>(&event)) {
            return Received{false, std::move(plain->message)};
        }
        if (auto* sealed = std::get_if<frame_event::Message>(&event)) {
            return Received{true, std::move(sealed->message)};
        }
        if (std::holds_alternative<frame_event::DecryptFailure>(event)) {
            return failure("a sealed record from the computer did not open with this "
                           "session's keys");
        }
        if (std::holds_alternative<frame_event::Binary>(event)) {
            ++m_skippedBinary;
        }
    }
}

Status PhoneClient::sendRawBytes(ByteView bytes)
{
    return sendBytes(bytes);
}

Status PhoneClient::sendFrame(std::uint8_t kind, ByteView payload)
{
    return sendBytes(encodeFrame(static_cast<FrameKind>(kind), payload));
}

bool PhoneClient::readUntilClosed(int timeoutMs)
{
    m_frames.clear();
    m_decoder.reset();
    if (m_peerClosed || !m_stream->isOpen()) {
        return true;
    }
    const auto deadline = deadlineAfter(timeoutMs);
    Bytes discard;
    for (;;) {
        discard.clear();
        switch (m_stream->readSome(discard, deadline)) {
        case ByteStream::ReadStatus::data:
            continue;
        case ByteStream::ReadStatus::timeout:
            return false;
        case ByteStream::ReadStatus::closed:
        case ByteStream::ReadStatus::error:
            m_peerClosed = true;
            m_streamError = "the computer closed the connection";
            return true;
        }
    }
}

} // namespace orvane::phone
