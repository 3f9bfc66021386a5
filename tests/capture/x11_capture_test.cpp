#include "capture/screen_streamer.h"
#include "picture.h"
#include "platform/linux/x11/x11_screen_capture.h"
#include "support/pump.h"
#include "test_screen.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace orvane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::TestScreen;

constexpr std::uint32_t red = 0xff0000, green = 0x00ff00, blue = 0x0000ff, white = 0xffffff;

// What a capture source pushed, from its thread. The newest picture is kept,
// and with it its buffer.
class Recorder {
public:
    ScreenCapture::EventSink sink()
    {
        return [this](CaptureEvent event) {
            std::lock_guard guard(m_lock);
            m_events.emplace_back(event.status, event.image.capturedAt);
            if (event.status == CaptureEvent::Status::newContent)
                m_last = std::move(event.image);
            m_changed.notify_all();
        };
    }
    // Waits until `count` events came, at most `deadline`.
    bool waitFor(std::size_t count, Clock::duration deadline)
    {
        std::unique_lock guard(m_lock);
        return m_changed.wait_for(guard, deadline, [&] { return m_events.size() >= count; });
    }
    std::pair<CaptureEvent::Status, Clock::time_point> event(std::size_t i)
    {
        std::lock_guard guard(m_lock);
        return m_events.at(i);
    }
    // Pixels of the newest picture in the square around (x, y) not near `rgb`.
    int differing(int x, int y, int half, std::uint32_t rgb)
    {
        std::lock_guard guard(m_lock);
        int count = 0;
        for (int row = std::max(0, y - half); row < std::min(m_last.height, y + half); ++row) {
            const auto* line =
                reinterpret_cast<const std::uint32_t*>(m_last.pixels + row * m_last.stride);
            for (int col = std::max(0, x - half); col < std::min(m_last.width, x + half); ++col)
                count += !test::near(line[col] & 0xffffff, rgb);
        }
        return count;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::pair<CaptureEvent::Status, Clock::time_point>> m_events;
    CapturedImage m_last;
};

class X11CaptureTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_screen = new TestScreen;
        s_started = s_screen->start();
        if (!s_started)
            return;
        s_left = s_screen->addMonitor("ORVANE-LEFT", 0);
        s_right = s_screen->addMonitor("ORVANE-RIGHT", TestScreen::monitorWidth);
    }
    static void TearDownTestSuite() { delete s_screen; }
    void SetUp() override { ASSERT_TRUE(s_started); }

    // Starts capturing the monitor at `rate` and waits for the first picture.
    void start(std::uint32_t monitor, int rate = 15)
    {
        QString error;
        ASSERT_TRUE(m_source->start(monitor, rate, m_recorder.sink(), &error))
            << error.toStdString();
        ASSERT_TRUE(m_recorder.waitFor(1, 5s));
    }

    static inline TestScreen* s_screen = nullptr;
    static inline ::testing::AssertionResult s_started = ::testing::AssertionFailure();
    static inline std::uint32_t s_left = 0, s_right = 0;
    Recorder m_recorder;
    std::unique_ptr<ScreenCapture> m_source = makeX11ScreenCapture(nullptr);
};

TEST_F(X11CaptureTest, TheMonitorsAreListedWithTheDesktopsScale)
{
    const auto find = [&](std::uint32_t id) {
        for (const CaptureDisplay& d : m_source->displays())
            if (d.id == id)
                return d;
        return CaptureDisplay{};
    };
    EXPECT_EQ(find(s_right), (CaptureDisplay{s_right, 1600, 1000, 1, false}));
    s_screen->setResources("Xft.antialias:\t1\nXft.dpi:\t192\n");
    EXPECT_EQ(find(s_left).scale, 2);
    s_screen->setResources("Xft.dpi: 96\n");
    EXPECT_EQ(find(s_left).scale, 1);
}

TEST_F(X11CaptureTest, AStreamShowsTheChosenMonitorAndMovesWithTheChoice)
{
    s_screen->fill(0, 0, 800, 1000, red);
    s_screen->fill(800, 0, 800, 1000, green);
    s_screen->fill(1600, 0, 1600, 1000, blue);
    ScreenStreamer streamer(std::move(m_source));
    std::vector<test::Picture> frames;
    streamer.onFrame = [&](std::shared_ptr<const Bytes> jpeg) {
        frames.push_back(test::Picture::decode(*jpeg));
    };
    std::optional<std::optional<QString>> selected, applied;
    streamer.selectDisplay(s_left, [&](std::optional<QString> e) { selected = e; });
    streamer.apply({1600, 15}, [&](std::optional<QString> e) { applied = e; });
    ASSERT_TRUE(test::pumpUntil([&] { return applied.has_value(); }, 5000));
    ASSERT_EQ(*applied, std::nullopt);
    ASSERT_TRUE(test::pumpUntil([&] { return frames.size() == 1; }, 5000));
    ASSERT_EQ(std::pair(frames[0].width, frames[0].height), std::pair(1600, 1000));
    EXPECT_TRUE(test::near(frames[0].at(400, 500), red));
    EXPECT_TRUE(test::near(frames[0].at(1200, 500), green));

    selected.reset();
    streamer.frameDone();
    streamer.selectDisplay(s_right, [&](std::optional<QString> e) { selected = e; });
    ASSERT_TRUE(test::pumpUntil([&] { return selected && frames.size() == 2; }, 5000));
    EXPECT_EQ(*selected, std::nullopt);
    EXPECT_TRUE(test::near(frames[1].at(800, 500), blue));
}

// Changes elsewhere send nothing; one of ours, the cursor's movement
// included, goes out within two intervals, the cursor drawn in.
TEST_F(X11CaptureTest, AnUnchangedScreenSendsNothingAndAChangeOrTheCursorGoesOutAtOnce)
{
    constexpr int rate = 15;
    s_screen->fill(0, 0, 3200, 1000, red);
    s_screen->moveCursor(2400, 500);
    start(s_left, rate);
    EXPECT_EQ(m_recorder.differing(800, 500, 20, red), 0) << "the cursor is on the other monitor";
    s_screen->fill(2000, 100, 100, 100, white);
    EXPECT_FALSE(m_recorder.waitFor(2, 2s)) << "a picture of an unchanged screen";

    const Clock::time_point changed = Clock::now();
    s_screen->fill(100, 100, 100, 100, white);
    ASSERT_TRUE(m_recorder.waitFor(2, 5s));
    EXPECT_EQ(m_recorder.event(1).first, CaptureEvent::Status::newContent);
    EXPECT_LE(m_recorder.event(1).second - changed, 2 * (1000ms / rate));
    EXPECT_GT(m_recorder.differing(150, 150, 10, red), 300);

    s_screen->moveCursor(800, 500);
    ASSERT_TRUE(m_recorder.waitFor(3, 5s));
    EXPECT_GT(m_recorder.differing(800, 500, 20, red), 20);
    EXPECT_EQ(m_recorder.differing(300, 300, 20, red), 0);
}

TEST_F(X11CaptureTest, AMonitorThatGoesAwayIsReportedGone)
{
    start(s_right);
    s_screen->removeMonitor(s_right);
    const bool reported = m_recorder.waitFor(2, 5s);
    s_right = s_screen->addMonitor("ORVANE-RIGHT", TestScreen::monitorWidth);
    ASSERT_TRUE(reported);
    EXPECT_EQ(m_recorder.event(1).first, CaptureEvent::Status::displayGone);
}

} // namespace
} // namespace orvane
