#pragma once

#include "tcp_stream.h"

#include "protocol/crypto.h"
#include "protocol/dispatch.h"
#include "protocol/message.h"
#include "protocol/pairing_url.h"
#include "protocol/phone_handshake.h"

#include <deque>
#include <memory>

namespace orvane {
class SecureSession;
}

namespace orvane::phone {

// One message from the computer, and whether it came inside a sealed record.
struct Received {
    bool sealed = false;
    OrvaneMessage message;
};

struct ReconnectOutcome {
    enum class Kind { connected, pairingRequired };
    Kind kind = Kind::pairingRequired;
    msg::Welcome welcome; // when connected
};

struct PairOutcome {
    enum class Kind { paired, wrongCode, rejected };
    Kind kind = Kind::rejected;
    std::string token;                  // paired: keep it to reconnect later
    msg::Welcome welcome;               // paired
    std::int64_t remainingAttempts = 0; // wrongCode
    std::string reason;                 // rejected, in the computer's words
};

// The phone's end of one connection to a computer. Calls block until their
// answer arrives or the timeout passes; failures come back as Error texts.
//
// Order of use: connect(), hello(), then reconnect() with a stored token or
// pairWithCode()/pairWithQrUrl() (repeatable while attempts remain), then
// send()/receive() on the sealed session.
class PhoneClient {
public:
    PhoneClient();
    ~PhoneClient();
    PhoneClient(const PhoneClient&) = delete;
    PhoneClient& operator=(const PhoneClient&) = delete;

    // Used for every handshake wait and every send.
    void setTimeout(int timeoutMs) { m_timeoutMs = timeoutMs; }
    int timeout() const { return m_timeoutMs; }

    Status connect(const std::string& host, std::uint16_t port, int timeoutMs);
    // Joins a relay room as the phone (the address names the room).
    Status connectRelay(const std::string& roomAddress, int timeoutMs);
    void attach(int fd);
    void close();

    // Sends the plain hello with a fresh key pair and waits for keyExchange.
    Result<msg::KeyExchange> hello(const std::string& deviceName, const Uuid& deviceID,
                                   bool hasToken);
    // After hello(hasToken = true). pairingRequired means the computer does
    // not know this phone or refused its token; pair on this connection then.
    Result<ReconnectOutcome> reconnect(const std::string& token);
    Result<PairOutcome> pairWithCode(const std::string& code);
    Result<PairOutcome> pairWithQrUrl(const std::string& url);
    Result<PairOutcome> pairWithQr(const PairingUrl& pairing);
    // The reason of a refusal that has already arrived (for instance because
    // the computer is pairing with another phone), waiting at most waitMs.
    std::optional<std::string> pendingRejection(int waitMs);

    // A message inside a sealed record; needs an authenticated session.
    Status send(const OrvaneMessage& message);
    Status sendPlain(const OrvaneMessage& message);
    // Sends a file record and returns its transfer id, which the computer's
    // `result` for the file carries.
    Result<Uuid> sendFile(const std::string& path);
    Result<Uuid> sendFile(ByteView contents, const std::string& name);
    // Sends `run` with a new id and returns the id.
    Result<Uuid> run(const OrvaneCommand& command);

    // The next message; screen frames and frames dropped by the protocol are
    // skipped. A sealed record that does not open is an error.
    Result<Received> receive(int timeoutMs);
    // The next frame as the protocol core classifies it, nothing skipped.
    Result<FrameEvent> receiveEvent(int timeoutMs);
    // The next message of case T, skipping everything else.
    template <class T> Result<T> receiveCase(int timeoutMs);
    Result<msg::Result> waitForResult(const Uuid& id, int timeoutMs);

    // Unchecked access for tests that probe how the computer copes.
    Status sendRawBytes(ByteView bytes);
    Status sendFrame(std::uint8_t kind, ByteView payload);
    Status sendSealed(std::uint8_t innerKind, ByteView body);
    // True once the computer has closed the connection; false if it is still
    // open after timeoutMs. Whatever arrives meanwhile is discarded.
    bool readUntilClosed(int timeoutMs);

    bool hasSession() const { return m_session != nullptr; }
    const std::optional<msg::Welcome>& welcome() const { return m_handshake.welcome(); }
    std::size_t skippedBinaryFrames() const { return m_skippedBinary; }

private:
    // What the handshake has told this client since the last step.
    struct Step {
        bool codeWanted = false;
        bool authenticated = false;
        std::optional<std::int64_t> wrongCode;
        std::optional<std::string> rejected;
        std::optional<std::string> token;
        std::optional<std::string> closed;
        bool ended() const
        {
            return codeWanted || authenticated || wrongCode || rejected || closed;
        }
    };
    Status sendBytes(ByteView bytes);
    Status carryOut(const PhoneActions& actions, Step& step);
    // Carries out `actions`, then feeds what arrives to the handshake until
    // it has an outcome.
    Result<Step> step(const PhoneActions& actions, const char* waitingFor);
    Result<PairOutcome> pairingOutcome(const PhoneActions& actions);
    // Reads until a frame is queued or the deadline passes.
    Status fillQueue(Clock::time_point deadline);
    Result<Received> receiveUntil(Clock::time_point deadline);
    Result<msg::Result> resultUntil(const Uuid& id, Clock::time_point deadline);

    std::unique_ptr<ByteStream> m_stream = std::make_unique<TcpStream>();
    int m_timeoutMs = 10'000;
    FrameDecoder m_decoder;
    std::deque<Bytes>
        m_frames; // raw frames; opened only when taken, with the session of that moment
    std::string m_streamError; // why no more frames will come, once that is known
    bool m_peerClosed = false;
    bool m_overRelay = false;
    std::optional<crypto::X25519Key> m_nextKey;
    PhoneHandshake m_handshake;
    std::shared_ptr<SecureSession> m_session;
    std::size_t m_skippedBinary = 0;
};

template <class T> Result<T> PhoneClient::receiveCase(int timeoutMs)
{
    const auto deadline = deadlineAfter(timeoutMs);
    for (;;) {
        auto next = receiveUntil(deadline);
        if (!next) {
            return next.error();
        }
        if (auto* wanted = std::get_if<T>(&next->message)) {
            return std::move(*wanted);
        }
    }
}

} // namespace orvane::phone
