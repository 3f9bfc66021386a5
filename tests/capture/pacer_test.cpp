#include "capture/frame_pacer.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

using namespace std::chrono_literals;
using Clock = FramePacer::Clock;

// Milliseconds on a clock that only the test moves.
Clock::time_point at(double ms)
{
    return Clock::time_point{} + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double, std::milli>(ms) + 1h);
}

double msUntilDue(const FramePacer& pacer, double now)
{
    const auto wait = pacer.wait(at(now));
    return wait ? std::chrono::duration<double, std::milli>(*wait).count() : -1;
}

TEST(FramePacer, AChangeIsTakenAsSoonAsTheIntervalSinceTheLastPictureAllows)
{
    struct Case {
        const char* what;
        int rate;
        double lastPicture; // -1: none yet
        double change;
        double due;            // when it is taken
        int rateBefore = -1;   // the rate until just after the change was noted
        bool deferred = false; // no picture could be taken at the change
    };
    const Case cases[] = {
        {"the first picture at once", 15, -1, 0, 0},
        {"within the interval: when it has passed", 15, 0, 10, 1000.0 / 15},
        {"after a quiet spell: at once, not on a timer's phase", 15, 0, 500, 500},
        {"just at the end of the interval", 3, 0, 1000.0 / 3, 1000.0 / 3},
        {"a rate of zero counts as one a second", 0, 0, 10, 1000},
        {"a raised rate shortens the wait at once", 15, 0, 10, 1000.0 / 15, 3},
        {"a deferred picture is tried one interval later", 10, -1, 0, 100, -1, true},
    };
    for (const Case& c : cases) {
        FramePacer pacer;
        pacer.setRate(c.rateBefore >= 0 ? c.rateBefore : c.rate);
        if (c.lastPicture >= 0)
            pacer.taken(at(c.lastPicture));
        pacer.note(FramePacer::content);
        pacer.setRate(c.rate);
        if (c.deferred)
            pacer.deferred(at(c.change));
        EXPECT_EQ(pacer.due(at(c.change)) != 0, c.due == c.change) << c.what;
        EXPECT_NEAR(c.change + msUntilDue(pacer, c.change), c.due, 0.001) << c.what;
        EXPECT_EQ(pacer.due(at(c.due)), unsigned(FramePacer::content)) << c.what;
    }
}

TEST(FramePacer, NothingWaitsWithoutAReasonAndReasonsAddUp)
{
    FramePacer pacer;
    pacer.setRate(15);
    EXPECT_EQ(msUntilDue(pacer, 0), -1);
    pacer.note(FramePacer::cursor);
    pacer.note(FramePacer::owed);
    EXPECT_EQ(pacer.due(at(0)), unsigned(FramePacer::cursor | FramePacer::owed));
    pacer.taken(at(0));
    EXPECT_EQ(pacer.due(at(1000)), 0u);
    EXPECT_EQ(msUntilDue(pacer, 1000), -1);
}

} // namespace
} // namespace orvane
