#pragma once

#include "protocol/frame.h"
#include "protocol/message.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvane {
class SecureSession;
}

namespace orvane::phone::testing {

struct FakeComputerConfig {
    std::string macName = "Test Computer";
    std::string code = "012345";
    std::string qrKey = "q1w2e3r4t5y6u7i8o9p0-_";
    std::string tokenToIssue = "c2VjcmV0LXRva2VuLWZvci10aGUtcGhvbmUtdGVzdHM=";
    std::map<Uuid, std::string> trustedTokenHashes; // device id -> hex digest of its token
    std::string busyReason;                         // set: refuse every pairing at once
};

// The computer's side of the handshake, on one end of a socketpair, built
// from the same protocol core as the phone but keyed as the computer. It
// follows the server's rules closely enough to drive every phone-side path,
// and records what it saw so tests can check the order of events.
class FakeComputer {
public:
    FakeComputer(int fd, FakeComputerConfig config);
    ~FakeComputer();

    // Waits for the phone to hang up, then returns the recorded events.
    std::vector<std::string> finish();
    std::vector<FileBody> files() const;

private:
    void serve();
    void handle(Bytes&& frame);
    void onHello(const msg::Hello& hello);
    void onPlain(const OrvaneMessage& message);
    void onSealed(const OrvaneMessage& message);
    void onDecryptFailure();
    void beginPairing();
    void keySession(const std::array<std::uint8_t, 32>& salt);
    void sendPlain(const OrvaneMessage& message);
    void sendSealed(const OrvaneMessage& message);
    void record(std::string event);

    int m_fd;
    FakeComputerConfig m_config;
    std::array<std::uint8_t, 32> m_privateKey{};
    Bytes m_phoneKey;
    bool m_haveHandshake = false;
    bool m_pairing = false;
    bool m_authenticated = false;
    bool m_closing = false;
    int m_attemptsLeft = 3;
    std::shared_ptr<SecureSession> m_session;
    mutable std::mutex m_lock;
    bool m_fdClosed = false;
    std::vector<std::string> m_events;
    std::vector<FileBody> m_files;
    std::thread m_thread;
};

} // namespace orvane::phone::testing
