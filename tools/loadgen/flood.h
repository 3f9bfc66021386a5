#pragma once

#include "protocol/types.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include <netinet/in.h>

namespace orvane::loadgen {

// Peers that never authenticate. Half say hello and then dribble the body of
// a frame they never finish; half announce a 60,000,000-byte frame and
// dribble its body. Whatever the server closes is opened again at once, so
// the pressure lasts until the flood is destroyed.
class Flood {
public:
    Flood(std::uint16_t port, std::size_t size);
    ~Flood();
    Flood(const Flood&) = delete;
    Flood& operator=(const Flood&) = delete;

    std::uint64_t opened() const { return m_opened; }
    std::uint64_t closedByServer() const { return m_closedByServer; }
    std::uint64_t failedConnects() const { return m_failedConnects; }

private:
    struct Peer {
        int fd = -1;
        bool connected = false;
        std::chrono::steady_clock::time_point nextDrip;
    };

    void open(Peer& peer);
    void drop(Peer& peer, std::atomic<std::uint64_t>& counter);
    void serve(Peer& peer, short events, bool huge, std::chrono::steady_clock::time_point now);
    void run();

    sockaddr_in m_address{};
    std::vector<Peer> m_peers;
    Bytes m_helloOpening;
    Bytes m_hugeOpening;
    std::atomic<bool> m_stop = false;
    std::atomic<std::uint64_t> m_opened = 0;
    std::atomic<std::uint64_t> m_closedByServer = 0;
    std::atomic<std::uint64_t> m_failedConnects = 0;
    std::thread m_thread;
};

} // namespace orvane::loadgen
