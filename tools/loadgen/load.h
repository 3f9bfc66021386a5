#pragma once

#include "server_run.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace orvane::loadgen {

struct LoadPlan {
    std::size_t commandPhones = 0; // each sends commands one after the other
    std::size_t commandsPerPhone = 0;
    int spreadSeconds = 0;      // paces each phone's commands over this long; 0: no pause
    std::size_t viewers = 0;    // start full-size screen sharing, never read
    bool helloStorm = false;    // strangers asking to pair, over and over
    bool reconnectProbe = true; // one phone reconnecting every 200 ms
};

// What every worker counts, read once a second by the report.
struct Counters {
    std::atomic<std::uint64_t> sent = 0;
    std::atomic<std::uint64_t> answered = 0;
    std::atomic<std::uint64_t> lost = 0; // sent, but no answer within 5 s
    std::atomic<std::uint64_t> helloes = 0;
    std::atomic<std::uint64_t> viewerStarts = 0;
    std::atomic<std::uint64_t> reconnectFailures = 0;

    void addReconnect(double ms);
    // Reconnect times (ms) since the previous call.
    std::vector<double> takeReconnects();

private:
    std::mutex m_lock;
    std::vector<double> m_reconnects;
};

// The phones of a load run, each on a thread of its own. The first
// identities of `phones` send commands, the next ones watch the screen and
// the last one probes reconnects.
class Load {
public:
    Load(std::uint16_t port, const std::vector<PhoneIdentity>& phones, const LoadPlan& plan);
    ~Load(); // stops every worker
    Load(const Load&) = delete;
    Load& operator=(const Load&) = delete;

    Counters& counters() { return m_counters; }
    // True once every command phone has sent all it was to send.
    bool commandsDone() const { return m_phonesDone == m_plan.commandPhones; }

private:
    void sendCommands(const PhoneIdentity& phone);
    void watchWithoutReading(const PhoneIdentity& phone);
    void storm();
    void probe(const PhoneIdentity& phone);
    void pause(int ms) const;
    void waitForTurn(std::chrono::steady_clock::time_point begun, std::size_t sent) const;

    std::uint16_t m_port;
    LoadPlan m_plan;
    Counters m_counters;
    std::atomic<bool> m_stop = false;
    std::atomic<std::size_t> m_phonesDone = 0;
    std::vector<std::thread> m_threads;
};

// Identities a plan needs: command phones, viewers and the probe.
std::size_t phonesNeeded(const LoadPlan& plan);

} // namespace orvane::loadgen
