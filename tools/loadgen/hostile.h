#pragma once

#include "server_run.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace orvane::loadgen {

// Connections that each send one malformed opening and go: every way a
// frame can be wrong before a session exists, in turn, until `count`.
class HostileFrames {
public:
    HostileFrames(std::uint16_t port, std::uint64_t count);
    ~HostileFrames();
    HostileFrames(const HostileFrames&) = delete;
    HostileFrames& operator=(const HostileFrames&) = delete;

    std::uint64_t sent() const { return m_sent; }
    bool done() const { return m_sent >= m_count; }

private:
    void run();

    std::uint16_t m_port;
    std::uint64_t m_count;
    std::vector<Bytes> m_openings;
    std::atomic<bool> m_stop = false;
    std::atomic<std::uint64_t> m_sent = 0;
    std::thread m_thread;
};

// Every way a frame can be wrong before a session exists.
std::vector<Bytes> hostileOpenings();

// Phones in their relay rooms that stream garbage without end, malformed
// frames and random bytes in turn: the computer's end of each room must
// stay bounded and close the link.
class RelayGarbage {
public:
    RelayGarbage(std::string relayBase, std::vector<PhoneIdentity> phones);
    ~RelayGarbage();
    RelayGarbage(const RelayGarbage&) = delete;
    RelayGarbage& operator=(const RelayGarbage&) = delete;

    std::uint64_t bytesSent() const { return m_bytes; }
    std::uint64_t messagesSent() const { return m_messages; }
    std::uint64_t roomsJoined() const { return m_joined; }

private:
    void run();

    std::string m_base;
    std::vector<PhoneIdentity> m_phones;
    std::atomic<bool> m_stop = false;
    std::atomic<std::uint64_t> m_bytes = 0;
    std::atomic<std::uint64_t> m_messages = 0;
    std::atomic<std::uint64_t> m_joined = 0;
    std::thread m_thread;
};

} // namespace orvane::loadgen
