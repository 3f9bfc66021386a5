#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>

namespace orvane {

// How often new pairings may start, so that a flood can neither fill the
// terminal nor change the code on screen faster than a person can read it,
// and one host cannot use up what the whole computer allows.
struct PairingStartLimits {
    int perMinute = 10;
    int perAddressPerMinute = 3;
    std::int64_t spacingMs = 5000;
};

// One guessing budget for the whole server. Every wrong pairing code counts,
// whichever connection sent it and whether or not its pairing was abandoned,
// so hanging up and reconnecting buys an attacker nothing. Times are
// milliseconds on a steady clock, passed in.
//
// The first few wrong codes of a day are free. Each one after those pauses
// pairing, for 1 minute, then 2, 4 ... up to an hour; the pauses shorten
// again only after a correct pairing or a whole day without a wrong code.
// That leaves about 30 guesses a day at a one-in-a-million code.
class PairingBudget {
public:
    static constexpr std::int64_t dayMs = 24 * 60 * 60 * 1000;
    static constexpr int freeWrongCodes = 6;
    static constexpr std::int64_t firstPauseMs = 60 * 1000;
    static constexpr std::int64_t longestPauseMs = 60 * 60 * 1000;
    static constexpr std::int64_t minuteMs = 60 * 1000;

    using StartLimits = PairingStartLimits;
    PairingBudget() = default;
    explicit PairingBudget(StartLimits limits) : m_startLimits(limits) {}

    // A wrong code. Returns the pause it starts, if it starts one.
    std::optional<std::int64_t> wrongCode(std::int64_t nowMs);
    void pairingSucceeded();
    // The person at the computer lifts the pause and vouches for the next
    // attempts: the wrong codes and the pairings started so far are
    // forgotten.
    void liftPause();
    bool paused(std::int64_t nowMs) const { return nowMs < m_pausedUntil; }
    std::int64_t pausedUntil() const { return m_pausedUntil; }

    // Whether a new pairing from `address` may start now; when it may, it
    // is counted.
    enum class Start { started, paused, tooMany };
    Start tryStart(std::int64_t nowMs, const std::string& address);
    // A start was turned away for coming too soon within the last minute.
    bool startsLimited(std::int64_t nowMs) const
    {
        return m_lastRefusedStart && nowMs - *m_lastRefusedStart < minuteMs;
    }

private:
    void forgetOldStarts(std::int64_t nowMs);

    StartLimits m_startLimits;
    std::deque<std::int64_t> m_wrongCodes; // within the last day, oldest first
    std::deque<std::int64_t> m_starts;     // within the last minute
    // Starts within the last minute by address: at most perMinute entries
    // are added a minute, so this stays small whatever a flood sends.
    std::map<std::string, std::deque<std::int64_t>> m_startsByAddress;
    std::optional<std::int64_t> m_lastRefusedStart;
    std::int64_t m_pausedUntil = INT64_MIN;
    std::int64_t m_nextPauseMs = firstPauseMs;
};

} // namespace orvane
