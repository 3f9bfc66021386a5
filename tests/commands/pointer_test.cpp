// Pointer events on a display: positions, clamping, click counts, drags.
#include "commands/pointer_driver.h"
#include "commands/user_activity.h"
#include "platform/fake/fake_platform.h"

#include <gtest/gtest.h>

#include <limits>

namespace orvane {
namespace {

using Events = std::vector<std::string>;

class Pointer : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The external display sits left of the main one.
        displays.displays = {
            {7, QStringLiteral("HDMI-1"), false, false, false, {-1920, 0, 1920, 1080}},
            {3, QStringLiteral("eDP-1"), true, true, false, {0, 0, 1440, 900}},
        };
        input.cursor = Point{100, 100};
    }
    Events post(const PointerEvent& event, std::uint32_t display = 3)
    {
        input.events.clear();
        driver.post(event, display);
        return input.events;
    }

    FakeInput input;
    FakeDisplays displays;
    std::int64_t clockMs = 0;
    PointerDriver driver{input, displays, [this] { return clockMs; }};
};

TEST_F(Pointer, NormalisedPositionsAreClampedToTheDisplay)
{
    using namespace pointer;
    EXPECT_EQ(post(Click{1.7, -0.2, false, 1}), (Events{"move 1440,0", "left down", "left up"}));
    EXPECT_EQ(post(Click{0.5, 0.5, true, 1}, 7), (Events{"move -960,540", "right down", "right up"}));
    // An unknown display is the main one; NaN is the near edge.
    double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(post(DragBegan{{nan, 1}}, 99), (Events{"move 0,900", "left down"}));
    EXPECT_EQ(post(DragChanged{{0.5, 0.5}}), (Events{"move 720,450"}));
    EXPECT_EQ(post(DragEnded{{1, 1}}), (Events{"move 1440,900", "left up"}));
}

TEST_F(Pointer, ClickCountsAreRealRepeatedClicksWithinReason)
{
    using namespace pointer;
    EXPECT_EQ(post(ClickAtCursor{false, 2}),
              (Events{"left down", "left up", "left down", "left up"}));
    EXPECT_EQ(post(ClickAtCursor{false, 1'000'000}).size(), 6u) << "capped at a triple click";
    EXPECT_EQ(post(ClickAtCursor{true, -3}), (Events{"right down", "right up"}));
    EXPECT_EQ(post(PressAtCursor{}), (Events{"left down"}));
    EXPECT_EQ(post(ReleaseAtCursor{}), (Events{"left up"}));
}

TEST_F(Pointer, RelativeMovesStayOnThePixelsOfTheDesktop)
{
    using namespace pointer;
    EXPECT_EQ(post(MoveBy{{1e9, 5}}), (Events{"move 1439,105"}));
    EXPECT_EQ(post(DragBy{{-1e9, -1e9}}), (Events{"move -1920,0"}));
    double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(post(MoveBy{{inf, 10}}), (Events{"move -1920,10"}));
    EXPECT_EQ(driver.activeDisplaysUnion(), (Rect{-1920, 0, 3360, 1080}));
    // A new layout counts once the cached one is old enough.
    displays.displays.clear();
    EXPECT_FALSE(driver.activeDisplaysUnion().isNull());
    clockMs += PointerDriver::displayRefreshMs;
    // Without displays nothing is clamped, and nothing breaks.
    input.cursor.reset();
    EXPECT_EQ(post(MoveBy{{3, 4}}), (Events{"move 3,4"}));
    EXPECT_EQ(post(Click{0.5, 0.5, false, 1}), (Events{"move 0,0", "left down", "left up"}));
}

TEST_F(Pointer, ScrollDeltasPassAsPixelsAndNonFiniteOnesAsNothing)
{
    using namespace pointer;
    EXPECT_EQ(post(Scroll{{0.5, -2.5}}), (Events{"scroll 0.5,-2.5"}));
    double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(post(Scroll{{nan, 3}}), (Events{"scroll 0,3"}));
}

TEST(UserActivityThrottle, AtMostOnceEveryThreeSeconds)
{
    FakePower power;
    std::int64_t now = 0;
    UserActivity activity(power, [&] { return now; });
    activity.declare();
    now = 3000;
    activity.declare();
    EXPECT_EQ(power.activityDeclarations, 1);
    now = 3001;
    activity.declare();
    activity.declare();
    EXPECT_EQ(power.activityDeclarations, 2);
}

} // namespace
} // namespace orvane
