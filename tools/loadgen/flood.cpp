#include "flood.h"

#include "protocol/codec.h"
#include "protocol/crypto.h"
#include "protocol/frame.h"
#include "protocol/random.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace orvane::loadgen {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {
constexpr auto dripInterval = 100ms;
}

Flood::Flood(std::uint16_t port, std::size_t size) : m_peers(size)
{
    m_address.sin_family = AF_INET;
    m_address.sin_port = htons(port);
    m_address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto keys = crypto::x25519KeyPair(makeKey(systemRandom()));
    Bytes publicKey(keys->publicKey.begin(), keys->publicKey.end());
    auto hello = encodeMessage(msg::Hello{"Flood", makeUuid(systemRandom()), publicKey, false});
    m_helloOpening = encodeFrame(FrameKind::message, asBytes(*hello));
    // 60,000 announced: within the unauthenticated limit, so the server waits for it.
    m_helloOpening.insert(m_helloOpening.end(), {0x00, 0x00, 0xea, 0x60, 0x00});
    m_hugeOpening = {0x03, 0x93, 0x87, 0x00, 0x00}; // 60,000,000
    m_thread = std::thread([this] { run(); });
}

Flood::~Flood()
{
    m_stop = true;
    m_thread.join();
    for (Peer& peer : m_peers)
        if (peer.fd >= 0)
            ::close(peer.fd);
}

void Flood::open(Peer& peer)
{
    peer = {};
    peer.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (peer.fd < 0)
        return;
    if (::connect(peer.fd, reinterpret_cast<sockaddr*>(&m_address), sizeof m_address) != 0 &&
        errno != EINPROGRESS)
        drop(peer, m_failedConnects);
}

void Flood::drop(Peer& peer, std::atomic<std::uint64_t>& counter)
{
    ::close(peer.fd);
    peer.fd = -1;
    ++counter;
}

void Flood::serve(Peer& peer, short events, bool huge, Clock::time_point now)
{
    if (!peer.connected) {
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(peer.fd, SOL_SOCKET, SO_ERROR, &error, &length);
        if (error != 0)
            return drop(peer, m_failedConnects);
        if (!(events & POLLOUT))
            return;
        peer.connected = true;
        ++m_opened;
        const Bytes& opening = huge ? m_hugeOpening : m_helloOpening;
        ::send(peer.fd, opening.data(), opening.size(), MSG_NOSIGNAL);
        peer.nextDrip = now + dripInterval;
        return;
    }
    if (events & (POLLIN | POLLERR | POLLHUP)) {
        char sink[4096];
        ssize_t count;
        while ((count = ::recv(peer.fd, sink, sizeof sink, MSG_DONTWAIT)) > 0) {
        }
        if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            return drop(peer, m_closedByServer);
    }
    if (now >= peer.nextDrip) {
        const char byte = 'x';
        if (::send(peer.fd, &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT) < 0 && errno != EAGAIN)
            return drop(peer, m_closedByServer);
        peer.nextDrip = now + dripInterval;
    }
}

void Flood::run()
{
    std::vector<pollfd> polled(m_peers.size());
    while (!m_stop) {
        for (std::size_t i = 0; i < m_peers.size(); ++i) {
            if (m_peers[i].fd < 0)
                open(m_peers[i]);
            polled[i] = {m_peers[i].fd, short(m_peers[i].connected ? POLLIN : POLLOUT), 0};
        }
        ::poll(polled.data(), polled.size(), 10);
        const auto now = Clock::now();
        for (std::size_t i = 0; i < m_peers.size(); ++i)
            if (m_peers[i].fd >= 0)
                serve(m_peers[i], polled[i].revents, i % 2 == 1, now);
    }
}

} // namespace orvane::loadgen
