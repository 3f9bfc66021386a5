#include "tcp_stream.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orvane::phone {
namespace {

int remainingMs(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, 24 * 3600 * 1000));
}

// Waits for `events` on `fd`; false on timeout. EINTR restarts the wait with
// the time that is left, so a signal cannot stretch a deadline.
bool waitFor(int fd, short events, Clock::time_point deadline, short* revents)
{
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, remainingMs(deadline));
        if (ready > 0) {
            *revents = entry.revents;
            return true;
        }
        if (ready == 0) {
            return false;
        }
        if (errno != EINTR) {
            *revents = POLLERR;
            return true;
        }
    }
}

std::string errnoText(int error)
{
    return std::strerror(error);
}

void tuneSocket(int fd)
{
    // Small frames (a key press) must go out at once, not wait for Nagle.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
}

// One address: a non-blocking connect bounded by the deadline, then back to
// a blocking socket. Returns the socket, or -1 with `error` set.
int connectOne(const addrinfo& address, Clock::time_point deadline, std::string& error)
{
    const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            address.ai_protocol);
    if (fd < 0) {
        error = errnoText(errno);
        return -1;
    }
    if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0 && errno != EINPROGRESS) {
        error = errnoText(errno);
        ::close(fd);
        return -1;
    }
    short revents = 0;
    if (!waitFor(fd, POLLOUT, deadline, &revents)) {
        error = "timed out";
        ::close(fd);
        return -1;
    }
    int soError = 0;
    socklen_t length = sizeof soError;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length);
    if (soError != 0) {
        error = errnoText(soError);
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    tuneSocket(fd);
    return fd;
}

} // namespace

Clock::time_point deadlineAfter(int timeoutMs)
{
    return Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
}

TcpStream::~TcpStream()
{
    close();
}

Status TcpStream::connect(const std::string& host, std::uint16_t port, int timeoutMs)
{
    close();
    const auto deadline = deadlineAfter(timeoutMs);
    const std::string where = host + " port " + std::to_string(port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
    if (rc != 0) {
        return failure("cannot resolve " + host + ": " + ::gai_strerror(rc));
    }
    std::string error = "no usable address";
    for (const addrinfo* address = list; address != nullptr; address = address->ai_next) {
        const int fd = connectOne(*address, deadline, error);
        if (fd >= 0) {
            m_fd = fd;
            break;
        }
    }
    ::freeaddrinfo(list);
    if (m_fd < 0) {
        return failure("cannot connect to " + where + ": " + error);
    }
    return success();
}

void TcpStream::attach(int fd)
{
    close();
    m_fd = fd;
}

void TcpStream::close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

Status TcpStream::sendAll(ByteView bytes, Clock::time_point deadline)
{
    if (m_fd < 0) {
        return failure("not connected");
    }
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return failure("sending to the computer failed: " + errnoText(errno));
        }
        short revents = 0;
        if (!waitFor(m_fd, POLLOUT, deadline, &revents)) {
            return failure("timed out sending to the computer");
        }
    }
    return success();
}

TcpStream::ReadStatus TcpStream::readSome(Bytes& out, Clock::time_point deadline)
{
    if (m_fd < 0) {
        return ReadStatus::closed;
    }
    std::uint8_t buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            out.insert(out.end(), buffer, buffer + n);
            return ReadStatus::data;
        }
        if (n == 0) {
            return ReadStatus::closed;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == ECONNRESET || errno == EPIPE) {
            return ReadStatus::closed;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            m_lastError = errnoText(errno);
            return ReadStatus::error;
        }
        short revents = 0;
        if (!waitFor(m_fd, POLLIN, deadline, &revents)) {
            return ReadStatus::timeout;
        }
    }
}

} // namespace orvane::phone
