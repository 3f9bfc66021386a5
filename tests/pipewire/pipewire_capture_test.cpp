#include "capture_recorder.h"
#include "platform/linux/pipewire/pipewire_screen_capture.h"
#include "support/pump.h"
#include "test_source.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace orvane {
namespace {

using namespace std::chrono_literals;
using test::CaptureRecorder;
using test::FakeStreamOpener;
using test::TestSource;
using Status = CaptureEvent::Status;

constexpr int width = 320, height = 200;
constexpr std::uint32_t blue = 0x0000ff, green = 0x00ff00, red = 0xff0000, white = 0xffffff;

// The test's sources live on the headless GNOME session's PipeWire, where
// WirePlumber links streams.
void usePipeWireOfTestSession()
{
    ASSERT_EQ(qgetenv("ORVANE_TEST_GNOME_OK"), "1")
        << "no headless GNOME session: " << qgetenv("ORVANE_TEST_GNOME_ERROR").toStdString();
    setenv("PIPEWIRE_RUNTIME_DIR", qgetenv("ORVANE_TEST_GNOME_RUNTIME_DIR").constData(), 1);
}

class PipeWireCaptureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        usePipeWireOfTestSession();
        m_opener->listed = {{1, width, height, 1, true}, {2, width, height, 1, false}};
    }
    std::unique_ptr<TestSource> source()
    {
        std::string error;
        auto made = TestSource::start(width, height, &error);
        EXPECT_TRUE(made) << error;
        return made;
    }
    // Lets the opener's answers through, which come on the event loop.
    void answered()
    {
        EXPECT_TRUE(test::pumpUntil([&] { return m_opener->answered == m_opener->opened; }));
    }
    // Waits for event `index` on the event loop, which delivers the opener's
    // answers and the stream's end.
    CaptureRecorder::Seen next(std::size_t index)
    {
        EXPECT_TRUE(test::pumpUntil([&] { return m_recorder.count() > index; }, 10'000))
            << "no event " << index;
        return m_recorder.count() > index ? m_recorder.event(index) : CaptureRecorder::Seen{};
    }

    std::shared_ptr<FakeStreamOpener> m_opener = std::make_shared<FakeStreamOpener>();
    std::shared_ptr<StreamCursor> m_cursor = std::make_shared<StreamCursor>();
    std::unique_ptr<ScreenCapture> m_capture = makePipeWireScreenCapture(m_opener, m_cursor);
    CaptureRecorder m_recorder;
};

// What a picture shows: its fill, and the cursor square (red, 8 pixels, its
// hotspot at (2, 3)) at a position, or nowhere.
struct Step {
    const char* what;
    TestSource::Frame frame;
    bool refresh;
    bool picture;       // whether a picture follows
    std::uint32_t fill; // at a corner
    std::optional<std::pair<int, int>> cursor;
    std::optional<std::pair<int, int>> cursorGoneFrom;
};

TEST_F(PipeWireCaptureTest, PicturesShowTheFramesWithTheCursorDrawnIn)
{
    auto src = source();
    ASSERT_TRUE(src);
    m_opener->nodes[1] = src->nodeId();
    const auto at = [](int x, int y) { return TestSource::Cursor{x, y, 2, 3, 8, red}; };
    const Step steps[] = {
        {"first frame", {blue, at(100, 50), true}, false, true, blue, {{100, 50}}, {}},
        {"cursor only, empty buffer",
         {{}, at(200, 150), true},
         false,
         true,
         blue,
         {{200, 150}},
         {{100, 50}}},
        {"unchanged frames", {blue, {}, false}, false, false, blue, {}, {}},
        {"refresh", {{}, {}, true}, true, true, blue, {{200, 150}}, {}},
        {"new content", {green, {}, true}, false, true, green, {{200, 150}}, {}},
        {"cursor at the edge", {{}, at(0, 0), true}, false, true, green, {{0, 0}}, {{200, 150}}},
    };
    QString error;
    ASSERT_TRUE(m_capture->start(1, 1000, m_recorder.sink(), &error)) << error.toStdString();
    answered();
    std::size_t expected = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.frame.rgb || step.frame.cursor || !step.frame.damaged) {
            ASSERT_TRUE(src->send(step.frame));
        }
        if (step.refresh)
            m_capture->refresh();
        if (!step.picture) {
            // Nothing may follow; wait long enough for a wrong picture to show.
            EXPECT_FALSE(m_recorder.waitFor(expected + 1, 500ms));
            continue;
        }
        const CaptureRecorder::Seen seen = next(expected++);
        ASSERT_EQ(seen.status, Status::newContent) << seen.error.toStdString();
        ASSERT_EQ(seen.width, width);
        ASSERT_EQ(seen.height, height);
        EXPECT_EQ(seen.at(width - 1, height - 1), step.fill);
        if (step.cursor) {
            const auto [x, y] = *step.cursor;
            // The square's top left corner lies at the position less the hotspot.
            EXPECT_EQ(seen.at(std::max(0, x - 2), std::max(0, y - 3)), red);
            EXPECT_EQ(seen.at(x + 5, y + 4), red);
            EXPECT_EQ(seen.at(x + 6, y + 5), step.fill); // just past it
            const std::optional<Point> told = m_cursor->on(1);
            ASSERT_TRUE(told);
            EXPECT_DOUBLE_EQ(told->x, double(x) / width);
            EXPECT_DOUBLE_EQ(told->y, double(y) / height);
        }
        if (step.cursorGoneFrom) {
            EXPECT_EQ(seen.at(step.cursorGoneFrom->first, step.cursorGoneFrom->second), step.fill);
        }
    }
    EXPECT_FALSE(m_cursor->on(2)) << "the cursor is told for the streamed display only";
}

TEST_F(PipeWireCaptureTest, ASourceThatGoesAwayStopsTheCaptureAndANewStartWorks)
{
    struct Case {
        const char* what;
        bool stillListed;
        Status expected;
    } cases[] = {
        {"the display is still there", true, Status::error},
        {"the display went with it", false, Status::displayGone},
    };
    const auto listed = m_opener->listed;
    std::size_t index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_opener->listed = listed;
        auto src = source();
        ASSERT_TRUE(src);
        m_opener->nodes[1] = src->nodeId();
        QString error;
        ASSERT_TRUE(m_capture->start(1, 30, m_recorder.sink(), &error)) << error.toStdString();
        answered();
        ASSERT_TRUE(src->send({white, {}, true}));
        EXPECT_EQ(next(index++).status, Status::newContent);
        if (!c.stillListed)
            m_opener->listed.erase(m_opener->listed.begin());
        src.reset();
        const CaptureRecorder::Seen stopped = next(index++);
        EXPECT_EQ(stopped.status, c.expected);
        if (c.expected == Status::error) {
            EXPECT_EQ(stopped.error, "The connection to the display was lost");
        }
        EXPECT_TRUE(m_opener->lastHandle.expired()) << "the desktop's side is let go";
        m_capture->stop();
    }
}

TEST_F(PipeWireCaptureTest, AnotherDisplayOpensAnotherStreamAndARateChangeDoesNot)
{
    auto first = source(), second = source();
    ASSERT_TRUE(first && second);
    m_opener->nodes = {{1, first->nodeId()}, {2, second->nodeId()}};
    QString error;
    ASSERT_TRUE(m_capture->start(1, 30, m_recorder.sink(), &error));
    answered();
    ASSERT_TRUE(first->send({blue, {}, true}));
    EXPECT_EQ(next(0).at(0, 0), blue);
    const std::weak_ptr<void> firstHandle = m_opener->lastHandle;

    ASSERT_TRUE(m_capture->reconfigure(2, 30, &error)) << error.toStdString();
    answered();
    ASSERT_TRUE(second->send({green, {}, true}));
    EXPECT_EQ(next(1).at(0, 0), green);
    EXPECT_TRUE(firstHandle.expired());

    ASSERT_TRUE(m_capture->reconfigure(2, 10, &error));
    EXPECT_EQ(next(2).at(0, 0), green) << "a picture follows a new rate";
    EXPECT_EQ(m_opener->opened, 2);
}

TEST_F(PipeWireCaptureTest, RefusalsComeBackWithTheirReasons)
{
    QString error;
    EXPECT_FALSE(m_capture->reconfigure(1, 30, &error));
    EXPECT_EQ(error, "The screen is not being captured");
    EXPECT_FALSE(m_capture->start(9, 30, m_recorder.sink(), &error));
    EXPECT_EQ(error, "No display found to share");
    // The desktop's answer comes later, as the capture's end.
    m_opener->refusal = "The user declined";
    ASSERT_TRUE(m_capture->start(1, 30, m_recorder.sink(), &error));
    const CaptureRecorder::Seen refused = next(0);
    EXPECT_EQ(refused.status, Status::error);
    EXPECT_EQ(refused.error, "The user declined");
}

} // namespace
} // namespace orvane
