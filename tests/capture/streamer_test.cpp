#include "capture/screen_streamer.h"
#include "picture.h"
#include "platform/fake/fake_screen_capture.h"
#include "support/pump.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <type_traits>

namespace orvane {
namespace {

using Call = FakeScreenCapture::Call;
using Kind = Call::Kind;
using Settings = ScreenStreamer::Settings;
using test::pumpUntil;

constexpr Settings preview{720, 3};
constexpr Settings relay{1180, 8};
constexpr Settings local{1600, 15};
constexpr std::uint32_t red = 0xff0000, green = 0x00ff00, blue = 0x0000ff, white = 0xffffff;

TEST(MakeConfiguration, TwiceThePointsAtMostMaxWidthKeepingTheShape)
{
    struct Case {
        CaptureDisplay display;
        Settings settings;
        ScreenStreamer::Size size;
    };
    const Case cases[] = {
        {{1, 1440, 900, 1}, {1600, 15}, {1600, 1000}},
        {{1, 2880, 1800, 2}, {1600, 15}, {1600, 1000}}, // the same display, scaled by two
        {{1, 300, 200, 1}, {1600, 15}, {600, 400}},     // twice the points, under the cap
        {{1, 1366, 768, 1}, {1180, 8}, {1180, 663}},    // 663.48 truncated
        {{1, 1440, 900, 0}, {1600, 15}, {1600, 1000}},  // no scale known: 1
        {{1, 1600, 1000, 1}, {INT64_MAX, 1}, {3200, 2000}},
        {{1, 0, 900, 1}, {1600, 15}, {}},
        {{1, 1440, -1, 1}, {1600, 15}, {}},
        {{1, 1440, 900, 1}, {0, 15}, {}},
        {{1, 1, 900, 4}, {1600, 15}, {}}, // half a point wide
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ScreenStreamer::makeConfiguration(c.display, c.settings), c.size)
            << c.display.pixelWidth << "x" << c.display.pixelHeight << " at " << c.display.scale
            << ", maxWidth " << c.settings.maxWidth;
    }
}

// A streamer on the fake source, with a main display and a second one.
class StreamerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto source = std::make_unique<FakeScreenCapture>();
        m_source = source.get();
        m_source->list = {{1, 1600, 1000, 1, true}, {2, 3200, 2000, 2, false}};
        m_streamer = std::make_unique<ScreenStreamer>(std::move(source));
        m_streamer->onFrame = [this](std::shared_ptr<const Bytes> jpeg) {
            m_frames.push_back(test::Picture::decode(*jpeg));
            if (m_acknowledgeAtOnce) // as the server does when no viewer is left
                m_streamer->frameDone();
        };
        m_streamer->onStop = [this](QString reason) { m_stops.push_back(reason); };
    }

    // The completion's result, once the event loop has run it.
    using Result = std::optional<std::optional<QString>>;
    ScreenStreamer::Completion into(Result& result)
    {
        return [&result](std::optional<QString> error) { result = std::move(error); };
    }
    template <typename Arg>
    std::optional<QString> await(void (ScreenStreamer::*request)(Arg, ScreenStreamer::Completion),
                                 std::type_identity_t<Arg> argument)
    {
        Result result;
        (*m_streamer.*request)(argument, into(result));
        EXPECT_TRUE(pumpUntil([&] { return result.has_value(); }));
        return result.value_or(QStringLiteral("no answer"));
    }
    std::optional<QString> apply(Settings s) { return await(&ScreenStreamer::apply, s); }
    std::optional<QString> select(std::uint32_t id)
    {
        return await(&ScreenStreamer::selectDisplay, id);
    }
    void push(std::uint32_t rgb, int width = 1600, int height = 1000)
    {
        m_source->push(FakeScreenCapture::picture(width, height, rgb));
    }
    bool framesArrive(std::size_t count)
    {
        return pumpUntil([&] { return m_frames.size() >= count; });
    }
    std::uint32_t colourOf(std::size_t frame) const
    {
        const test::Picture& p = m_frames.at(frame);
        return p.rgb.empty() ? 0x123456 : p.at(p.width / 2, p.height / 2);
    }

    FakeScreenCapture* m_source = nullptr;
    std::unique_ptr<ScreenStreamer> m_streamer;
    std::vector<test::Picture> m_frames;
    std::vector<QString> m_stops;
    bool m_acknowledgeAtOnce = false;
};

TEST_F(StreamerTest, RequestsMadeWhileAStartIsUnderWayCollapseIntoTheNewest)
{
    Result first, second, third;
    m_streamer->apply(preview, into(first));
    m_streamer->apply(relay, into(second));
    m_streamer->apply(local, into(third));
    // Completions run from the event loop, never inside the call.
    EXPECT_FALSE(first || second || third);
    ASSERT_TRUE(pumpUntil([&] { return first && second && third; }));
    EXPECT_EQ(*first, std::nullopt);
    EXPECT_EQ(*third, std::nullopt);
    EXPECT_EQ(m_source->calls,
              (std::vector<Call>{{Kind::start, 1, 3}, {Kind::reconfigure, 1, 15}}));
    EXPECT_EQ(m_streamer->currentSettings(), local);
    EXPECT_TRUE(m_streamer->isRunning());
    m_source->calls.clear();
    EXPECT_EQ(apply(local), std::nullopt);
    EXPECT_TRUE(m_source->calls.empty()) << "settings already in force cost nothing";
}

TEST_F(StreamerTest, PicturesTakenWhileOneIsOutReplaceTheWaitingOneUntilARestart)
{
    ASSERT_EQ(apply(local), std::nullopt);
    push(red);
    ASSERT_TRUE(framesArrive(1));
    push(green);
    push(blue);
    push(white);
    m_streamer->frameDone(); // white goes out; green and blue never do
    ASSERT_TRUE(framesArrive(2));
    m_streamer->frameDone(); // nothing waits: idle, the next one goes at once
    push(blue);
    ASSERT_TRUE(framesArrive(3));
    // A restart ends the busy period and drops red, which waits behind blue.
    push(red);
    m_streamer->stop();
    EXPECT_FALSE(m_source->running());
    ASSERT_EQ(apply(local), std::nullopt);
    push(green);
    ASSERT_TRUE(framesArrive(4));
    ASSERT_EQ(m_frames.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_TRUE(test::near(colourOf(i), std::array{red, white, blue, green}[i])) << i;
}

// Each frame is acknowledged as it goes out, so the next one goes at once.
TEST_F(StreamerTest, PicturesAreScaledToTheWidthOfTheDisplaysConfiguration)
{
    m_streamer->selectDisplay(2, {}); // 3200 x 2000 pixels, 1600 x 1000 points
    ASSERT_EQ(apply(preview), std::nullopt);
    m_acknowledgeAtOnce = true;
    push(red, 3200, 2000);
    ASSERT_TRUE(framesArrive(1));
    ASSERT_EQ(apply(local), std::nullopt);
    push(green, 3200, 2000);
    ASSERT_TRUE(framesArrive(2));
    EXPECT_EQ(std::pair(m_frames[0].width, m_frames[0].height), std::pair(720, 450));
    EXPECT_EQ(std::pair(m_frames[1].width, m_frames[1].height), std::pair(1600, 1000));
    EXPECT_TRUE(test::near(colourOf(0), red));
    EXPECT_TRUE(test::near(colourOf(1), green));
}

TEST_F(StreamerTest, SelectingADisplayMovesTheStreamOrRemembersTheWish)
{
    EXPECT_EQ(select(2), std::nullopt); // not running: only remembered
    EXPECT_TRUE(m_source->calls.empty());
    ASSERT_EQ(apply(local), std::nullopt);
    EXPECT_EQ(m_source->calls.front(), (Call{Kind::start, 2, 15}));
    m_source->calls.clear();
    EXPECT_EQ(select(2), std::nullopt); // already there
    EXPECT_EQ(select(1), std::nullopt);
    EXPECT_EQ(m_source->calls, (std::vector<Call>{{Kind::reconfigure, 1, 15}}));
    EXPECT_EQ(m_streamer->displayID(), 1u);
}

TEST_F(StreamerTest, FailuresCarryTheirTextsAndLeaveTheStreamAsItWas)
{
    const QString noDisplay = QStringLiteral("No display found to share");
    m_source->failNext = QStringLiteral("The display cannot be reached");
    EXPECT_EQ(apply(local), QStringLiteral("The display cannot be reached"));
    EXPECT_FALSE(m_streamer->isRunning());
    ASSERT_EQ(apply(local), std::nullopt); // the loop begins afresh
    m_source->failNext = QStringLiteral("no");
    EXPECT_EQ(select(2), QStringLiteral("no"));
    EXPECT_EQ(m_streamer->displayID(), 1u);
    EXPECT_EQ(select(99), noDisplay);
    EXPECT_EQ(m_streamer->displayID(), 1u);
    EXPECT_EQ(m_streamer->preferredDisplayID(), 99u);
    m_streamer->stop();
    m_source->calls.clear();
    ASSERT_EQ(apply(local), std::nullopt); // 99 is nowhere: the main display
    EXPECT_EQ(m_source->calls, (std::vector<Call>{{Kind::start, 1, 15}}));
    m_streamer->stop();
    m_source->list.clear();
    EXPECT_EQ(apply(local), noDisplay);
}

TEST_F(StreamerTest, TheSourceStoppingOnItsOwnIsPassedOnWithItsReason)
{
    ASSERT_EQ(apply(local), std::nullopt);
    m_source->push(
        {CaptureEvent::Status::error, {}, QStringLiteral("The screen could not be read")});
    ASSERT_TRUE(pumpUntil([&] { return !m_stops.empty(); }));
    EXPECT_EQ(m_stops, std::vector<QString>{QStringLiteral("The screen could not be read")});
    EXPECT_FALSE(m_streamer->isRunning());
    EXPECT_FALSE(m_streamer->currentSettings());
    EXPECT_FALSE(m_source->running());
}

TEST_F(StreamerTest, WhenTheCapturedDisplayGoesTheStreamMovesToTheMainOne)
{
    ASSERT_EQ(select(2), std::nullopt);
    ASSERT_EQ(apply(local), std::nullopt);
    m_source->list.pop_back();
    m_source->push({CaptureEvent::Status::displayGone, {}, {}});
    ASSERT_TRUE(pumpUntil([&] { return m_streamer->displayID() == 1; }));
    EXPECT_EQ(m_source->calls.back(), (Call{Kind::reconfigure, 1, 15}));
    EXPECT_TRUE(m_streamer->isRunning());
    m_source->list.clear();
    m_source->push({CaptureEvent::Status::displayGone, {}, {}});
    ASSERT_TRUE(pumpUntil([&] { return !m_stops.empty(); }));
    EXPECT_EQ(m_stops.front(), QStringLiteral("No display found to share"));
}

} // namespace
} // namespace orvane
