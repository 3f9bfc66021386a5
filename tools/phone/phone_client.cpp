#include "phone_client.h"

#include "relay_stream.h"

#include "protocol/codec.h"
#include "protocol/random.h"
#include "protocol/secure_session.h"

#include <filesystem>
#include <fstream>

namespace orvane::phone {
namespace {

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
