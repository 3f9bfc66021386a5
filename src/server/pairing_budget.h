#pragma once

#include <cstdint>
#include <deque>
#include <optional>

namespace orvane {

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
    // New pairings a minute, so that a flood can neither fill the terminal
    // nor change the code on screen faster than a person can read it.
    static constexpr int startsPerMinute = 10;
    static constexpr std::int64_t minuteMs = 60 * 1000;

    // A wrong code. Returns the pause it starts, if it starts one.
    std::optional<std::int64_t> wrongCode(std::int64_t nowMs);
    void pairingSucceeded();
    // The person at the computer lifts the pause and vouches for the next
    // attempts: the wrong codes counted so far are forgotten.
    void liftPause();
    bool paused(std::int64_t nowMs) const { return nowMs < m_pausedUntil; }
    std::int64_t pausedUntil() const { return m_pausedUntil; }

    // Whether a new pairing may start now; when it may, it is counted.
    bool tryStart(std::int64_t nowMs);

private:
    std::deque<std::int64_t> m_wrongCodes; // within the last day, oldest first
    std::deque<std::int64_t> m_starts;     // within the last minute
    std::int64_t m_pausedUntil = INT64_MIN;
    std::int64_t m_nextPauseMs = firstPauseMs;
};

} // namespace orvane
