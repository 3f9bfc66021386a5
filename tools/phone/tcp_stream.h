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

// Error::where of a wait that ran out of time, as opposed to a broken link.
constexpr std::string_view timeoutMarker = "timeout";
inline bool isTimeout(const Error& error)
{
    return error.where == timeoutMarker;
}

using Clock = std::chrono::steady_clock;

// Deadline `timeoutMs` from now; a negative timeout means "no wait at all".
Clock::time_point deadlineAfter(int timeoutMs);

// A connected byte stream over a blocking socket. Every wait goes through
// poll() with a deadline and each transfer uses MSG_DONTWAIT, so no call can
// hang past its timeout even when the peer stops reading.
class TcpStream {
public:
    enum class ReadStatus { data, timeout, closed, error };

    TcpStream() = default;
    ~TcpStream();
    TcpStream(const TcpStream&) = delete;
    TcpStream& operator=(const TcpStream&) = delete;

    // Tries every address the host resolves to until one answers.
    Status connect(const std::string& host, std::uint16_t port, int timeoutMs);
    // Takes ownership of an already connected socket (a socketpair in tests).
    void attach(int fd);
    void close();
    bool isOpen() const { return m_fd >= 0; }

    Status sendAll(ByteView bytes, Clock::time_point deadline);
    // Appends what arrived to `out`. `closed` means the peer ended the stream
    // (an orderly close or a reset).
    ReadStatus readSome(Bytes& out, Clock::time_point deadline);
    // The reason for the last `error` from readSome.
    const std::string& lastError() const { return m_lastError; }

private:
    int m_fd = -1;
    std::string m_lastError;
};

} // namespace orvane::phone
