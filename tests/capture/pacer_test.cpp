#include "platform/linux/x11/frame_pacer.h"

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
        double due; // when it is taken
    };
    const Case cases[] = {
        {"the first picture at once", 15, -1, 0, 0},
        {"within the interval: when it has passed", 15, 0, 10, 1000.0 / 15},
        {"after a quiet spell: at once, not on a timer's phase", 15, 0, 500, 500},
        {"just at the end of the interval", 3, 0, 1000.0 / 3, 1000.0 / 3},
        {"a rate of zero counts as one a second", 0, 0, 10, 1000},
    };
    for (const Case& c : cases) {
        FramePacer pacer;
        pacer.setRate(c.rate);
        if (c.lastPicture >= 0)
            pacer.taken(at(c.lastPicture));
        pacer.note(FramePacer::content);
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

TEST(FramePacer, ADeferredPictureIsTriedAgainOneIntervalLater)
{
    FramePacer pacer;
    pacer.setRate(10);
    pacer.note(FramePacer::content);
    pacer.deferred(at(0));
    EXPECT_NEAR(msUntilDue(pacer, 0), 100, 0.001);
    EXPECT_EQ(pacer.due(at(100)), unsigned(FramePacer::content));
}

TEST(FramePacer, ARaisedRateShortensTheWaitAtOnce)
{
    FramePacer pacer;
    pacer.setRate(3);
    pacer.taken(at(0));
    pacer.note(FramePacer::owed);
    pacer.setRate(15);
    EXPECT_NEAR(msUntilDue(pacer, 10), 1000.0 / 15 - 10, 0.001);
}

} // namespace
} // namespace orvane
