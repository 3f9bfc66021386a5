// Pointer events on a display: positions, clamping, click counts, drags,
// scrolling; and how often the user counts as active.
#include "commands/pointer_driver.h"
#include "commands/user_activity.h"
#include "platform/fake/fake_platform.h"

#include <gtest/gtest.h>

#include <cmath>

namespace orvane {
namespace {

using namespace pointer;
using Events = std::vector<std::string>;

TEST(PointerDriver, PositionsClicksDragsAndScrolls)
{
    FakeInput input;
    FakeDisplays displays;
    // The external display sits left of the main one.
    displays.displays = {{7, QStringLiteral("HDMI-1"), false, false, false, {-1920, 0, 1920, 1080}},
                         {3, QStringLiteral("eDP-1"), true, true, false, {0, 0, 1440, 900}}};
    std::int64_t clockMs = 0;
    PointerDriver driver{input, displays, [&] { return clockMs; }};
    auto post = [&](const PointerEvent& event, std::uint32_t display = 3) {
        input.events.clear();
        driver.post(event, display);
        return input.events;
    };
    // Normalised positions are clamped to the display; an unknown display is
    // the main one, and NaN the near edge.
    EXPECT_EQ(post(Click{1.7, -0.2, false, 1}), (Events{"move 1440,0", "left down", "left up"}));
    EXPECT_EQ(post(Click{0.5, 0.5, true, 1}, 7),
              (Events{"move -960,540", "right down", "right up"}));
    EXPECT_EQ(post(DragBegan{{NAN, 1}}, 99), (Events{"move 0,900", "left down"}));
    EXPECT_EQ(post(DragChanged{{0.5, 0.5}}), (Events{"move 720,450"}));
    EXPECT_EQ(post(DragEnded{{1, 1}}), (Events{"move 1440,900", "left up"}));
    // Real repeated clicks, at least one and at most a triple click.
    EXPECT_EQ(post(ClickAtCursor{false, 2}),
              (Events{"left down", "left up", "left down", "left up"}));
    EXPECT_EQ(post(ClickAtCursor{false, 1'000'000}).size(), 6u);
    EXPECT_EQ(post(ClickAtCursor{true, -3}), (Events{"right down", "right up"}));
    EXPECT_EQ(post(PressAtCursor{}), (Events{"left down"}));
    EXPECT_EQ(post(ReleaseAtCursor{}), (Events{"left up"}));
    // Scroll deltas pass as pixels, non-finite ones as nothing.
    EXPECT_EQ(post(Scroll{{0.5, -2.5}}), (Events{"scroll 0.5,-2.5"}));
    EXPECT_EQ(post(Scroll{{NAN, 3}}), (Events{"scroll 0,3"}));

    // Relative moves stay on the pixels of the desktop.
    input.cursor = Point{100, 100};
    EXPECT_EQ(post(MoveBy{{1e9, 5}}), (Events{"move 1439,105"}));
    EXPECT_EQ(post(DragBy{{-1e9, -1e9}}), (Events{"move -1920,0"}));
    EXPECT_EQ(post(MoveBy{{INFINITY, 10}}), (Events{"move -1920,10"}));
    EXPECT_EQ(driver.activeDisplaysUnion(), (Rect{-1920, 0, 3360, 1080}));
    // A new layout counts once the cached one is old enough; without displays
    // nothing is clamped, and nothing breaks.
    displays.displays.clear();
    EXPECT_FALSE(driver.activeDisplaysUnion().isNull());
    clockMs += PointerDriver::displayRefreshMs;
    input.cursor.reset();
    EXPECT_EQ(post(MoveBy{{3, 4}}), (Events{"move 3,4"}));
    EXPECT_EQ(post(Click{0.5, 0.5, false, 1}), (Events{"move 0,0", "left down", "left up"}));
}

TEST(UserActivityThrottle, AtMostOnceEveryThreeSeconds)
{
    FakePower power;
    std::int64_t now = 0;
    UserActivity activity(power, [&] { return now; });
    for (auto [at, total] : {std::pair<std::int64_t, int>{0, 1}, {3000, 1}, {3001, 2}, {3001, 2}}) {
        now = at;
        activity.declare();
        EXPECT_EQ(power.activityDeclarations, total) << at;
    }
}

} // namespace
} // namespace orvane
