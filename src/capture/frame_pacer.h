#pragma once

#include <chrono>
#include <optional>

namespace orvane {

// When the next picture may be taken. A picture is taken only for a reason
// (one is owed, the content changed, the cursor moved), at most one per
// frame interval, and as soon as the interval since the last one has passed:
// a change after a quiet spell is taken at once, not at the next tick of a
// timer running on its own phase. Time is passed in, so the rules can be
// checked on a clock that a test moves.
class FramePacer {
public:
    using Clock = std::chrono::steady_clock;
    enum Reason : unsigned {
        owed = 1,    // a stream started, a viewer joined, the display changed
        content = 2, // the captured area changed
        cursor = 4,  // the cursor moved or changed shape, somewhere
    };

    // Rates below one picture a second count as one.
    void setRate(int framesPerSecond)
    {
        using namespace std::chrono;
        m_interval = duration_cast<Clock::duration>(
            nanoseconds(1'000'000'000LL / (framesPerSecond > 0 ? framesPerSecond : 1)));
    }
    Clock::duration interval() const { return m_interval; }

    void note(unsigned reasons) { m_reasons |= reasons; }
    unsigned waiting() const { return m_reasons; }

    // The reasons that wait, when the interval allows a picture at `now`;
    // none otherwise.
    unsigned due(Clock::time_point now) const
    {
        const std::optional<Clock::duration> left = wait(now);
        return left && *left == Clock::duration::zero() ? m_reasons : 0;
    }
    // How long from `now` until a waiting reason is due: zero when it is,
    // nothing while no reason waits.
    std::optional<Clock::duration> wait(Clock::time_point now) const
    {
        if (m_reasons == 0)
            return std::nullopt;
        if (!m_last || now >= *m_last + m_interval)
            return Clock::duration::zero();
        return *m_last + m_interval - now;
    }
    // A picture was taken at `at`, or the reasons were looked into and
    // came to nothing: either way the interval starts again.
    void taken(Clock::time_point at)
    {
        m_last = at;
        m_reasons = 0;
    }
    // No picture could be taken at `at`; the reasons stay for the next try,
    // one interval later.
    void deferred(Clock::time_point at) { m_last = at; }

private:
    Clock::duration m_interval = std::chrono::seconds(1);
    std::optional<Clock::time_point> m_last;
    unsigned m_reasons = 0;
};

} // namespace orvane
