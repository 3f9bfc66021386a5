// PhoneClient's side of the handshake: hello, a reconnect with the token,
// or a pairing with the code or the QR code, each waited for until the
// handshake has its outcome.
#include "phone_client.h"

#include "protocol/codec.h"
#include "protocol/overloaded.h"
#include "protocol/random.h"
#include "protocol/secure_session.h"

namespace orvane::phone {
namespace {

// How long a phone in a relay room waits for the key exchange before it says
// hello again.
constexpr auto helloResendInterval = std::chrono::milliseconds(500);

// What the handshake makes of a message, as the frame it came in.
FrameEvent asEvent(Received received)
{
    if (received.sealed) {
        return frame_event::Message{std::move(received.message)};
    }
    return frame_event::PlainMessage{std::move(received.message)};
}

} // namespace

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

} // namespace orvane::phone
