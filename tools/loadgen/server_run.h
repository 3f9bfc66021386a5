#pragma once

#include "child_process.h"

#include "protocol/types.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane::loadgen {

// A phone the server trusts from the start: pairing is limited to a few a
// minute, so a load run writes its phones into the settings file instead.
struct PhoneIdentity {
    std::string name;
    Uuid id;
    std::string token;
};

struct ServerSample {
    long residentKiB = -1;
    long peakKiB = -1; // the highest resident memory so far
    long long loopStallMs = -1;
    long long connections = -1;
    long long frameBytesArriving = -1;
};

// `orvane --headless` in a home of its own that is removed afterwards.
class ServerRun {
public:
    // Trusts `phones` new phones and allows `connections` at once.
    ServerRun(const std::string& program, std::size_t phones, std::size_t connections);
    ~ServerRun();
    ServerRun(const ServerRun&) = delete;
    ServerRun& operator=(const ServerRun&) = delete;

    // Starts orvane-relay on a free loopback port, before start(), so that
    // the server links every trusted phone's room; empty or why not.
    std::string startRelay(const std::string& program);
    const std::string& relayBase() const { return m_relayBase; }
    // Starts the server; empty when it listens, else why not.
    std::string start(const std::map<std::string, std::string>& extraEnv);
    std::uint16_t port() const { return m_port; }
    int pid() const { return m_pid; }
    const std::vector<PhoneIdentity>& phones() const { return m_phones; }
    // Memory from /proc and the loop's worst stall since the last sample,
    // which the server's status line reports.
    ServerSample sample();
    bool running();
    // Ends the server as a user would (SIGTERM); empty when it ended
    // cleanly, else its exit status and what a sanitizer reported.
    std::string stop();

private:
    std::filesystem::path m_home;
    std::string m_program;
    std::vector<PhoneIdentity> m_phones;
    std::unique_ptr<process::ChildProcess> m_relay;
    std::string m_relayBase;
    std::unique_ptr<process::ChildProcess> m_server;
    int m_pid = -1;
    std::uint16_t m_port = 0;
};

} // namespace orvane::loadgen
