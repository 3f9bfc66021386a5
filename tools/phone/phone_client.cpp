#include "phone_client.h"

#include "protocol/codec.h"
#include "protocol/random.h"
#include "protocol/secure_session.h"

#include <filesystem>
#include <fstream>

namespace orvane::phone {
namespace {

constexpr std::size_t publicKeySize = 32;

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

} // namespace

PhoneClient::PhoneClient() = default;
PhoneClient::~PhoneClient() = default;

Status PhoneClient::connect(const std::string& host, std::uint16_t port, int timeoutMs)
{
    close();
    return m_stream.connect(host, port, timeoutMs);
}

void PhoneClient::attach(int fd)
{
    close();
    m_stream.attach(fd);
}

void PhoneClient::close()
{
    m_stream.close();
    m_decoder.reset();
    m_frames.clear();
    m_streamError.clear();
    m_peerClosed = false;
    m_keyExchange.reset();
    m_session.reset();
    m_welcome.reset();
    m_qrSelected = false;
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
    m_publicKey = key->publicKey();
    m_keyExchange.reset();
    m_session.reset();
    m_qrSelected = false;
    const Bytes publicKey(m_publicKey.begin(), m_publicKey.end());
    if (auto sent = sendPlain(msg::Hello{deviceName, deviceID, publicKey, hasToken}); !sent) {
        return sent.error();
    }
    const auto deadline = deadlineAfter(m_timeoutMs);
    // The computer needs a moment for its side of the agreement: time
    // enough to make the key for the next connection.
    m_nextKey = crypto::X25519Key::fromPrivate(makeKey(systemRandom()));
    for (;;) {
        auto next = receiveUntil(deadline);
        if (!next) {
            return prefixed("no key exchange from the computer", next.error());
        }
        if (auto* rejected = std::get_if<msg::PairingRejected>(&next->message)) {
            return failure("the computer refused the connection: " + rejected->value);
        }
        auto* exchange = std::get_if<msg::KeyExchange>(&next->message);
        if (exchange == nullptr || next->sealed) {
            continue;
        }
        if (exchange->publicKey.size() != publicKeySize) {
            return failure("the computer sent a public key of " +
                           std::to_string(exchange->publicKey.size()) + " bytes, not 32");
        }
        auto secret = key->agree(exchange->publicKey);
        if (!secret) {
            return failure("key agreement with the computer's public key failed");
        }
        m_sharedSecret = *secret;
        m_keyExchange = *exchange;
        return *exchange;
    }
}

Status PhoneClient::installSession(ByteView salt)
{
    if (!m_keyExchange) {
        return failure("no key exchange yet: call hello first");
    }
    auto keys = deriveSessionKeys(SessionSide::phone, m_sharedSecret, salt, m_publicKey,
                                  m_keyExchange->publicKey);
    if (!keys) {
        return failure("could not derive the session keys");
    }
    m_session = std::make_shared<SecureSession>(*keys);
    return success();
}

Result<ReconnectOutcome> PhoneClient::reconnect(const std::string& token)
{
    if (!m_keyExchange) {
        return failure("no key exchange yet: call hello first");
    }
    if (m_keyExchange->pairingRequired) {
        return ReconnectOutcome{ReconnectOutcome::Kind::pairingRequired, {}};
    }
    // The computer only keeps the token's digest, so that is what keys the salt.
    if (auto installed = installSession(reconnectSalt(hexDigest(token))); !installed) {
        return installed.error();
    }
    if (auto sent = send(msg::Authenticate{}); !sent) {
        return sent.error();
    }
    const auto deadline = deadlineAfter(m_timeoutMs);
    for (;;) {
        auto next = receiveUntil(deadline);
        if (!next) {
            return prefixed("no answer to reconnecting", next.error());
        }
        if (auto* welcome = std::get_if<msg::Welcome>(&next->message); welcome && next->sealed) {
            m_welcome = *welcome;
            return ReconnectOutcome{ReconnectOutcome::Kind::connected, *welcome};
        }
        if (std::holds_alternative<msg::PairingRequired>(next->message) && !next->sealed) {
            // The computer has already moved on to pairing with its own keys.
            m_session.reset();
            return ReconnectOutcome{ReconnectOutcome::Kind::pairingRequired, {}};
        }
        if (auto* rejected = std::get_if<msg::PairingRejected>(&next->message)) {
            return failure("the computer refused the connection: " + rejected->value);
        }
    }
}

Result<PairOutcome> PhoneClient::pairWithCode(const std::string& code)
{
    if (!isPairingCode(code)) {
        return failure("a pairing code is six digits, not \"" + code + "\"");
    }
    return attemptPairing(pairingCodeSalt(code), false);
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
    return attemptPairing(qrSalt(pairing.qrKey, pairing.code), true);
}

Result<PairOutcome> PhoneClient::attemptPairing(ByteView salt, bool viaQr)
{
    if (!m_keyExchange) {
        return failure("no key exchange yet: call hello first");
    }
    // The computer keys with the typed code unless told otherwise, and keeps
    // whichever choice was made last; it must hear it before authenticate.
    if (viaQr != m_qrSelected) {
        if (auto sent = sendPlain(msg::PairingMethod{{viaQr}}); !sent) {
            return sent.error();
        }
        m_qrSelected = viaQr;
    }
    // Each attempt starts a new session: the computer's counters for a
    // failed attempt never advanced, and the keys may differ.
    if (auto installed = installSession(salt); !installed) {
        return installed.error();
    }
    if (auto sent = send(msg::Authenticate{}); !sent) {
        return sent.error();
    }
    return awaitPairingOutcome();
}

Result<PairOutcome> PhoneClient::awaitPairingOutcome()
{
    PairOutcome outcome;
    bool havePaired = false;
    const auto deadline = deadlineAfter(m_timeoutMs);
    for (;;) {
        auto next = receiveUntil(deadline);
        if (!next) {
            return prefixed("no answer to the pairing attempt", next.error());
        }
        OrvaneMessage& message = next->message;
        if (auto* failed = std::get_if<msg::PairingFailed>(&message); failed && !next->sealed) {
            m_session.reset();
            outcome.kind = PairOutcome::Kind::wrongCode;
            outcome.remainingAttempts = failed->value;
            return outcome;
        }
        if (auto* rejected = std::get_if<msg::PairingRejected>(&message);
            rejected && !next->sealed) {
            m_session.reset();
            outcome.kind = PairOutcome::Kind::rejected;
            outcome.reason = rejected->value;
            return outcome;
        }
        if (auto* paired = std::get_if<msg::Paired>(&message); paired && next->sealed) {
            outcome.token = paired->value;
            havePaired = true;
        } else if (auto* welcome = std::get_if<msg::Welcome>(&message); welcome && next->sealed) {
            if (!havePaired) {
                return failure("the computer welcomed this phone without giving it a token");
            }
            m_welcome = *welcome;
            outcome.kind = PairOutcome::Kind::paired;
            outcome.welcome = *welcome;
            return outcome;
        }
    }
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
    if (!m_stream.isOpen()) {
        return failure("not connected to a computer");
    }
    return m_stream.sendAll(bytes, deadlineAfter(m_timeoutMs));
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
        switch (m_stream.readSome(chunk, deadline)) {
        case TcpStream::ReadStatus::data:
            break;
        case TcpStream::ReadStatus::timeout:
            return Error{"timed out waiting for the computer", std::string(timeoutMarker)};
        case TcpStream::ReadStatus::closed:
            m_peerClosed = true;
            m_streamError = "the computer closed the connection";
            continue;
        case TcpStream::ReadStatus::error:
            m_streamError = "reading from the computer failed: " + m_stream.lastError();
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
    if (m_peerClosed || !m_stream.isOpen()) {
        return true;
    }
    const auto deadline = deadlineAfter(timeoutMs);
    Bytes discard;
    for (;;) {
        discard.clear();
        switch (m_stream.readSome(discard, deadline)) {
        case TcpStream::ReadStatus::data:
            continue;
        case TcpStream::ReadStatus::timeout:
            return false;
        case TcpStream::ReadStatus::closed:
        case TcpStream::ReadStatus::error:
            m_peerClosed = true;
            m_streamError = "the computer closed the connection";
            return true;
        }
    }
}

} // namespace orvane::phone
