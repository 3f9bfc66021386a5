#pragma once

#include "protocol/result.h"
#include "protocol/types.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <variant>

namespace orvane::phone {

// Success without a value, for operations that only report failure.
using Status = Result<std::monostate>;
inline Status success()
{
    return std::monostate{};
}
inline Error failure(std::string message)
{
    return Error{std::move(message), {}};
}
// The same failure, said of what was being waited for.
inline Error prefixed(const std::string& prefix, const Error& error)
{
    return Error{prefix + ": " + error.message, error.where};
}

// Error::where of a wait that ran out of time, as opposed to a broken link.
constexpr std::string_view timeoutMarker = "timeout";
inline bool isTimeout(const Error& error)
{
    return error.where == timeoutMarker;
}

using Clock = std::chrono::steady_clock;

// Deadline `timeoutMs` from now; a negative timeout means "no wait at all".
Clock::time_point deadlineAfter(int timeoutMs);

// The bytes between the phone and the computer: a TCP connection on the
// local network, or a relay room from anywhere. Every call has a deadline.
class ByteStream {
public:
    enum class ReadStatus { data, timeout, closed, error };

    virtual ~ByteStream() = default;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual Status sendAll(ByteView bytes, Clock::time_point deadline) = 0;
    // Appends what arrived to `out`. `closed` means the peer ended the stream
    // (an orderly close or a reset).
    virtual ReadStatus readSome(Bytes& out, Clock::time_point deadline) = 0;
    // The reason for the last `error` from readSome.
    virtual const std::string& lastError() const = 0;
};

// A connected byte stream over a blocking socket. Every wait goes through
// poll() with a deadline and each transfer uses MSG_DONTWAIT, so no call can
// hang past its timeout even when the peer stops reading.
class TcpStream final : public ByteStream {
public:
    TcpStream() = default;
    ~TcpStream() override;
    TcpStream(const TcpStream&) = delete;
    TcpStream& operator=(const TcpStream&) = delete;

    // Tries every address the host resolves to until one answers.
    Status connect(const std::string& host, std::uint16_t port, int timeoutMs);
    // Takes ownership of an already connected socket (a socketpair in tests).
    void attach(int fd);
    void close() override;
    bool isOpen() const override { return m_fd >= 0; }
    Status sendAll(ByteView bytes, Clock::time_point deadline) override;
    ReadStatus readSome(Bytes& out, Clock::time_point deadline) override;
    const std::string& lastError() const override { return m_lastError; }

private:
    int m_fd = -1;
    std::string m_lastError;
};

} // namespace orvane::phone
