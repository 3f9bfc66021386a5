#include "capture_recorder.h"
#include "platform/linux/pipewire/pipewire_screen_capture.h"
#include "test_source.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace orvane {
namespace {

using test::TestSource;
using Seen = test::CaptureRecorder::Seen;
using Status = CaptureEvent::Status;

constexpr int width = 320, height = 200;
constexpr std::uint32_t blue = 0x0000ff, green = 0x00ff00, red = 0xff0000, white = 0xffffff;

// Sources of the test's own on the headless GNOME session's PipeWire, where
// WirePlumber links streams.
class PipeWireCaptureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(qgetenv("ORVANE_TEST_GNOME_OK"), "1")
            << "no headless GNOME session: " << qgetenv("ORVANE_TEST_GNOME_ERROR").toStdString();
        setenv("PIPEWIRE_RUNTIME_DIR", qgetenv("ORVANE_TEST_GNOME_RUNTIME_DIR").constData(), 1);
        m_opener->listed = {{1, width, height, 1, true}, {2, width, height, 1, false}};
    }
    std::unique_ptr<TestSource> source()
    {
        std::string error;
        auto made = TestSource::start(width, height, &error);
        EXPECT_TRUE(made) << error;
        return made;
    }
    void start(std::uint32_t display, int rate)
    {
        QString error;
        ASSERT_TRUE(m_capture->start(display, rate, m_recorder.sink(), &error))
            << error.toStdString();
        ASSERT_TRUE(m_opener->allAnswered());
    }

    std::shared_ptr<test::FakeStreamOpener> m_opener = std::make_shared<test::FakeStreamOpener>();
    std::shared_ptr<StreamCursor> m_cursor = std::make_shared<StreamCursor>();
    std::unique_ptr<ScreenCapture> m_capture = makePipeWireScreenCapture(m_opener, m_cursor);
    test::CaptureRecorder m_recorder;
};

TEST_F(PipeWireCaptureTest, PicturesShowTheFramesWithTheCursorDrawnIn)
{
    auto src = source();
    ASSERT_TRUE(src);
    m_opener->nodes[1] = src->nodeId();
    // The cursor: a red square of 8 pixels, its hotspot at (2, 3).
    const auto at = [](int x, int y) { return TestSource::Cursor{x, y, 2, 3, 8, red}; };
    using Spot = std::optional<std::pair<int, int>>;
    const struct {
        const char* what;
        std::optional<TestSource::Frame> frame;
        bool picture;       // whether a picture follows
        std::uint32_t fill; // at a corner
        Spot cursor, cursorGoneFrom;
    } steps[] = {
        {"first frame", TestSource::Frame{blue, at(100, 50)}, true, blue, {{100, 50}}, {}},
        {"cursor only, empty buffer",
         TestSource::Frame{{}, at(200, 150)},
         true,
         blue,
         {{200, 150}},
         {{100, 50}}},
        {"unchanged frame", TestSource::Frame{blue, {}, false}, false, blue, {}, {}},
        {"refresh", {}, true, blue, {{200, 150}}, {}},
        {"new content", TestSource::Frame{green}, true, green, {{200, 150}}, {}},
        {"cursor at the edge",
         TestSource::Frame{{}, at(0, 0)},
         true,
         green,
         {{0, 0}},
         {{200, 150}}},
    };
    start(1, 1000);
    std::size_t expected = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.frame) {
            ASSERT_TRUE(src->send(*step.frame));
        } else {
            m_capture->refresh();
        }
        if (!step.picture) {
            // Nothing may follow; long enough for a wrong picture to show.
            EXPECT_EQ(m_recorder.event(expected, 500).error, "no event came");
            continue;
        }
        const Seen seen = m_recorder.event(expected++);
        ASSERT_EQ(seen.status, Status::newContent) << seen.error.toStdString();
        ASSERT_EQ(seen.width * 1000 + seen.height, width * 1000 + height);
        EXPECT_EQ(seen.at(width - 1, height - 1), step.fill);
        if (step.cursor) {
            // Top left at the position less the hotspot; clipped at the edge.
            const auto [x, y] = *step.cursor;
            EXPECT_EQ(seen.at(std::max(0, x - 2), std::max(0, y - 3)), red);
            EXPECT_EQ(seen.at(x + 5, y + 4), red);
            EXPECT_EQ(seen.at(x + 6, y + 5), step.fill);
            const std::optional<Point> told = m_cursor->on(1);
            ASSERT_TRUE(told);
            EXPECT_EQ(std::pair(told->x, told->y),
                      std::pair(double(x) / width, double(y) / height));
        }
        if (step.cursorGoneFrom) {
            EXPECT_EQ(seen.at(step.cursorGoneFrom->first, step.cursorGoneFrom->second), step.fill);
        }
    }
    EXPECT_FALSE(m_cursor->on(2)) << "the cursor is told for the streamed display only";
}

TEST_F(PipeWireCaptureTest, ASourceThatGoesAwayStopsTheCaptureAndANewStartWorks)
{
    const struct {
        const char* what;
        bool stillListed;
        Status expected;
        QString error;
    } cases[] = {
        {"the display is still there", true, Status::error,
         "The connection to the display was lost"},
        {"the display went with it", false, Status::displayGone, ""},
    };
    const auto listed = m_opener->listed;
    std::size_t index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m_opener->listed = listed;
        auto src = source();
        ASSERT_TRUE(src);
        m_opener->nodes[1] = src->nodeId();
        start(1, 30);
        ASSERT_TRUE(src->send({white}));
        EXPECT_EQ(m_recorder.event(index++).status, Status::newContent);
        if (!c.stillListed)
            m_opener->listed.erase(m_opener->listed.begin());
        src.reset();
        const Seen stopped = m_recorder.event(index++);
        EXPECT_EQ(stopped.status, c.expected);
        EXPECT_EQ(stopped.error, c.error);
        EXPECT_TRUE(m_opener->lastHandle.expired()) << "the desktop's side is let go";
        m_capture->stop();
    }
}

TEST_F(PipeWireCaptureTest, AnotherDisplayOpensAnotherStreamAndARateChangeDoesNot)
{
    auto first = source(), second = source();
    ASSERT_TRUE(first && second);
    m_opener->nodes = {{1, first->nodeId()}, {2, second->nodeId()}};
    start(1, 30);
    ASSERT_TRUE(first->send({blue}));
    EXPECT_EQ(m_recorder.event(0).at(0, 0), blue);
    const std::weak_ptr<void> firstHandle = m_opener->lastHandle;

    QString error;
    ASSERT_TRUE(m_capture->reconfigure(2, 30, &error)) << error.toStdString();
    ASSERT_TRUE(m_opener->allAnswered());
    ASSERT_TRUE(second->send({green}));
    EXPECT_EQ(m_recorder.event(1).at(0, 0), green);
    EXPECT_TRUE(firstHandle.expired());

    ASSERT_TRUE(m_capture->reconfigure(2, 10, &error));
    EXPECT_EQ(m_recorder.event(2).at(0, 0), green) << "a picture follows a new rate";
    EXPECT_EQ(m_opener->opened, 2);
}

TEST_F(PipeWireCaptureTest, TheDesktopsRefusalComesLaterAsTheCapturesEnd)
{
    m_opener->refusal = "The user declined";
    start(1, 30);
    const Seen refused = m_recorder.event(0);
    EXPECT_EQ(refused.status, Status::error);
    EXPECT_EQ(refused.error, "The user declined");
}

} // namespace
} // namespace orvane
