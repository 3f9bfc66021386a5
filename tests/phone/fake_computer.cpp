#include "fake_computer.h"

#include "protocol/codec.h"
#include "protocol/dispatch.h"
#include "protocol/random.h"
#include "protocol/secure_session.h"

#include <sys/socket.h>
#include <unistd.h>

namespace orvane::phone::testing {

FakeComputer::FakeComputer(int fd, FakeComputerConfig config)
    : m_fd(fd), m_config(std::move(config)), m_thread([this] { serve(); })
{
}

FakeComputer::~FakeComputer()
{
    if (m_thread.joinable()) {
        {
            // The serving thread may have closed the descriptor already, and
            // its number may belong to someone else by now.
            std::lock_guard lock(m_lock);
            if (!m_fdClosed) {
                ::shutdown(m_fd, SHUT_RDWR);
            }
        }
        m_thread.join();
    }
}

std::vector<std::string> FakeComputer::finish()
{
    if (m_thread.joinable()) {
        m_thread.join();
    }
    std::lock_guard lock(m_lock);
    return m_events;
}

std::vector<FileBody> FakeComputer::files() const
{
    std::lock_guard lock(m_lock);
    return m_files;
}

void FakeComputer::record(std::string event)
{
    std::lock_guard lock(m_lock);
    m_events.push_back(std::move(event));
}

void FakeComputer::serve()
{
    FrameDecoder decoder;
    std::uint8_t buffer[4096];
    while (!m_closing) {
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        const auto status =
            decoder.feed(ByteView(buffer, static_cast<std::size_t>(n)), [this](Bytes&& frame) {
                handle(std::move(frame));
                return !m_closing;
            });
        if (status == FrameDecoder::Status::close) {
            break;
        }
    }
    std::lock_guard lock(m_lock);
    ::close(m_fd);
    m_fdClosed = true;
}

void FakeComputer::handle(Bytes&& frame)
{
    FrameEvent event = dispatchFrame(std::move(frame), m_session.get());
    if (auto* plain = std::get_if<frame_event::PlainMessage>(&event)) {
        onPlain(plain->message);
    } else if (auto* sealed = std::get_if<frame_event::Message>(&event)) {
        onSealed(sealed->message);
    } else if (auto* file = std::get_if<frame_event::File>(&event)) {
        if (m_authenticated) {
            std::lock_guard lock(m_lock);
            const ByteView contents = file->file.contents();
            m_files.push_back({file->file.transferID, file->file.name,
                               Bytes(contents.begin(), contents.end())});
        }
        sendSealed(msg::Result{file->file.transferID, true, "Saved " + file->file.name});
    } else if (std::holds_alternative<frame_event::DecryptFailure>(event)) {
        onDecryptFailure();
    }
}

void FakeComputer::onPlain(const OrvaneMessage& message)
{
    if (auto* hello = std::get_if<msg::Hello>(&message)) {
        onHello(*hello);
    } else if (auto* method = std::get_if<msg::PairingMethod>(&message)) {
        record(method->value ? "pairingMethod qr" : "pairingMethod code");
        if (m_pairing) {
            keySession(method->value ? qrSalt(m_config.qrKey, m_config.code)
                                     : pairingCodeSalt(m_config.code));
        }
    }
}

void FakeComputer::onHello(const msg::Hello& hello)
{
    if (m_haveHandshake || hello.publicKey.size() != 32) {
        return;
    }
    record(std::string("hello ") + (hello.hasToken ? "with token" : "without token"));
    m_haveHandshake = true;
    m_privateKey = makeKey(systemRandom());
    m_phoneKey = hello.publicKey;
    const auto ownKey = crypto::x25519KeyPair(m_privateKey)->publicKey;
    const Bytes publicKey(ownKey.begin(), ownKey.end());
    const auto known = m_config.trustedTokenHashes.find(hello.deviceID);
    if (hello.hasToken && known != m_config.trustedTokenHashes.end()) {
        keySession(reconnectSalt(known->second));
        sendPlain(msg::KeyExchange{publicKey, false});
        return;
    }
    sendPlain(msg::KeyExchange{publicKey, true});
    beginPairing();
}

void FakeComputer::beginPairing()
{
    m_pairing = true;
    if (!m_config.busyReason.empty()) {
        sendPlain(msg::PairingRejected{{m_config.busyReason}});
        m_closing = true;
        return;
    }
    keySession(pairingCodeSalt(m_config.code));
}

void FakeComputer::onSealed(const OrvaneMessage& message)
{
    if (std::holds_alternative<msg::Authenticate>(message) && !m_authenticated) {
        record("authenticate");
        if (m_pairing) {
            sendSealed(msg::Paired{{m_config.tokenToIssue}});
        }
        m_authenticated = true;
        sendSealed(msg::Welcome{m_config.macName, true});
        sendSealed(msg::Track{}); // pushed unasked, as the real computer does
        return;
    }
    if (!m_authenticated) {
        return;
    }
    if (auto* run = std::get_if<msg::Run>(&message)) {
        record("run " +
               std::visit([](const auto& c) { return std::string(c.caseName); }, run->command));
        const bool isTyping = std::holds_alternative<command::TypeText>(run->command);
        sendSealed(msg::Result{run->id, !isTyping, isTyping ? "Typing refused" : "Done"});
    } else if (std::holds_alternative<msg::RequestClipboard>(message)) {
        sendSealed(msg::Clipboard{{std::string("copied text")}});
    }
}

void FakeComputer::onDecryptFailure()
{
    if (m_authenticated || !m_haveHandshake) {
        m_closing = true;
        return;
    }
    if (!m_pairing) {
        record("token refused");
        sendPlain(msg::PairingRequired{});
        beginPairing();
        return;
    }
    record("wrong attempt");
    if (--m_attemptsLeft > 0) {
        sendPlain(msg::PairingFailed{{m_attemptsLeft}});
        return;
    }
    sendPlain(msg::PairingRejected{{"Too many wrong attempts"}});
    m_closing = true;
}

void FakeComputer::keySession(const std::array<std::uint8_t, 32>& salt)
{
    m_session = SecureSession::create(SessionSide::computer, m_privateKey, m_phoneKey, salt);
}

void FakeComputer::sendPlain(const OrvaneMessage& message)
{
    const Bytes frame = encodeFrame(FrameKind::message, asBytes(encodeMessage(message).value()));
    ::send(m_fd, frame.data(), frame.size(), MSG_NOSIGNAL);
}

void FakeComputer::sendSealed(const OrvaneMessage& message)
{
    const std::string json = encodeMessage(message).value();
    const auto frame = m_session->sealFrame(FrameKind::message, asBytes(json));
    ::send(m_fd, frame->data(), frame->size(), MSG_NOSIGNAL);
}

} // namespace orvane::phone::testing
