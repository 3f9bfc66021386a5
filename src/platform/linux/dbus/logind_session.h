#pragma once

#include <QString>

#include <cstdint>

namespace orvane {

// The session manager (systemd-logind, or elogind) on the system bus. Every
// call waits at most a second for the answer.
class LogindSession {
public:
    LogindSession() = default;
    ~LogindSession();
    LogindSession(const LogindSession&) = delete;
    LogindSession& operator=(const LogindSession&) = delete;

    // Only a plain "yes": a suspend that needs a password would be refused,
    // as nobody is at the machine to give it.
    bool canSuspend();
    bool suspend();
    // Locks the session this process runs in.
    bool lock();
    bool setBrightness(const QString& device, std::uint32_t value);

    // Idle suspend is blocked while the inhibitor's file descriptor stays
    // open; holding twice keeps the first. `absent` tells a logind that is
    // not there (or did not answer) from one that refused.
    bool holdIdleInhibitor(bool* absent = nullptr);
    void releaseIdleInhibitor();
    bool holdsIdleInhibitor() const { return m_inhibitorFd >= 0; }

    static constexpr int callTimeoutMs = 1000;

private:
    int m_inhibitorFd = -1;
};

} // namespace orvane
