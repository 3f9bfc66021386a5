// Screen sharing as the server runs it, on the fake capture source and the
// test's clock: who watches decides the settings, one picture is on its way
// at a time for all viewers, and a viewer that stops reading is dropped.
#include "support/jpeg_size.h"
#include "support/server_rig.h"

namespace orvane::test {
namespace {

using Call = FakeScreenCapture::Call;
using Sizes = std::vector<std::pair<int, int>>;

class ScreenShare : public ServerFixture {
protected:
    ScreenShare()
    {
        screenCapture->list = {{1, 1600, 1000, 1, true}, {2, 1600, 1000, 1, false}};
        fakes.displays->displays = {
            {1, QStringLiteral("Main"), false, true, false, {0, 0, 1600, 1000}},
            {2, QStringLiteral("Side"), false, false, false, {1600, 0, 1600, 1000}}};
    }

    // The phone asks, and the streamer has carried the request out.
    void watch(TestPhone& phone, bool preview)
    {
        const std::size_t calls = screenCapture->calls.size();
        phone.send(msg::StartScreenShare{{preview}});
        ASSERT_TRUE(pumpUntil([&] { return screenCapture->calls.size() > calls; }));
        settle();
    }
    void push(int height = 1000)
    {
        screenCapture->push(FakeScreenCapture::picture(1600, height, 0x336699));
    }
    // The sizes of the pictures the phone got, once `count` have come.
    Sizes pictures(TestPhone& phone, std::size_t count)
    {
        Sizes sizes;
        pumpUntil([&] {
            for (const Bytes& jpeg : phone.takeBinaries())
                sizes.push_back(jpegSize(jpeg));
            return sizes.size() >= count;
        });
        return sizes;
    }
    // The screen sharing errors the phone got; with `wait`, once one came
    // and the loop has settled.
    std::vector<std::string> errors(TestPhone& phone, bool wait = false)
    {
        std::vector<std::string> texts;
        auto take = [&] {
            for (const auto& r : phone.takeReceived())
                if (auto* error = std::get_if<msg::ScreenShareError>(&r.message))
                    texts.push_back(error->value);
            return !texts.empty();
        };
        if (wait && pumpUntil(take))
            settle();
        take();
        return texts;
    }
    // The rate of the newest start or change of the source.
    int rate() const
    {
        for (auto call = screenCapture->calls.rbegin(); call != screenCapture->calls.rend(); ++call)
            if (call->kind == Call::Kind::start || call->kind == Call::Kind::reconfigure)
                return call->framesPerSecond;
        return 0;
    }
};

TEST_F(ScreenShare, TheSettingsFollowTheMixOfViewers)
{
    auto previewA = pairedPhone("Preview A"), previewB = pairedPhone("Preview B");
    auto lan = pairedPhone("Lan"), remote = pairedPhone("Remote");
    remote->transport().relay = true;
    struct Case {
        std::vector<std::pair<TestPhone*, bool>> viewers; // phone, preview
        int rate;
        std::pair<int, int> size;
    };
    const Case cases[] = {
        {{{previewA.get(), true}}, 3, {720, 450}},
        {{{previewA.get(), true}, {previewB.get(), true}}, 3, {720, 450}},
        {{{lan.get(), false}}, 15, {1600, 1000}},
        {{{remote.get(), false}}, 8, {1180, 737}},
        {{{previewA.get(), true}, {remote.get(), false}}, 8, {1180, 737}},
        {{{remote.get(), false}, {lan.get(), false}}, 15, {1600, 1000}},
    };
    for (const Case& c : cases) {
        for (auto [phone, preview] : c.viewers)
            watch(*phone, preview);
        EXPECT_EQ(rate(), c.rate) << c.size.first;
        push();
        EXPECT_EQ(pictures(*c.viewers.front().first, 1), Sizes{c.size});
        for (auto [phone, preview] : c.viewers) {
            phone->send(msg::StopScreenShare{});
            phone->takeBinaries();
        }
        settle();
        EXPECT_FALSE(screenCapture->running()) << "no viewer left, yet still capturing";
    }
}

TEST_F(ScreenShare, TheActivityLineIsWrittenOncePerFullViewer)
{
    auto a = pairedPhone("A"), b = pairedPhone("B");
    auto lines = [&] {
        return std::count_if(
            server->status().activity().begin(), server->status().activity().end(),
            [](const auto& e) { return e.text == QStringLiteral("Started viewing the screen"); });
    };
    const std::pair<TestPhone*, bool> steps[] = {
        {a.get(), true}, {a.get(), false}, {a.get(), false}, {a.get(), true}, {b.get(), false}};
    const long expected[] = {0, 1, 1, 1, 2};
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        watch(*steps[i].first, steps[i].second);
        EXPECT_EQ(lines(), expected[i]) << "after step " << i;
    }
    EXPECT_EQ(server->status().screenViewerNames(), QStringList{QStringLiteral("B")});
    EXPECT_EQ(server->status().previewViewerNames(), QStringList{QStringLiteral("A")});
}

TEST_F(ScreenShare, AStartThatFailsTellsEveryViewerWhy)
{
    auto phone = pairedPhone();
    struct Case {
        std::function<void()> arrange;
        std::string text;
    };
    const Case cases[] = {
        {[&] {
             accessibility = false;
             screenCapture->failNext = QStringLiteral("refused");
         },
         "Screen Recording permission required on the Mac: System Settings › Privacy & Security "
         "› Screen & System Audio Recording"},
        {[&] { screenCapture->list.clear(); },
         "Screen sharing didn't start: No display found to share"},
        {[&] { screenCapture->failNext = QStringLiteral("BadAccess"); },
         "Screen sharing didn't start: BadAccess"},
    };
    for (const Case& c : cases) {
        const auto displays = screenCapture->list;
        c.arrange();
        phone->send(msg::StartScreenShare{{false}});
        EXPECT_EQ(errors(*phone, true), std::vector<std::string>{c.text});
        EXPECT_TRUE(server->status().screenViewerNames().isEmpty());
        accessibility = true;
        screenCapture->list = displays;
    }
    // A source that gives up while streaming stops everyone with its reason.
    watch(*phone, false);
    CaptureEvent failed;
    failed.status = CaptureEvent::Status::error;
    failed.error = QStringLiteral("the X server went away");
    screenCapture->push(failed);
    EXPECT_EQ(errors(*phone, true),
              std::vector<std::string>{"Screen sharing stopped: the X server went away"});
}

TEST_F(ScreenShare, TheCursorIsSentWhenItMovedPastTheThresholdSinceTheLastSent)
{
    auto phone = pairedPhone();
    watch(*phone, false);
    phone->takeReceived();
    // 0.0005 of 1600 pixels is 0.8: small moves add up against the last
    // position sent, not the last one seen.
    const std::pair<double, bool> moves[] = {{800, true},   {800, false},   {800.6, false},
                                             {801.2, true}, {801.9, false}, {802.1, true}};
    for (auto [x, sent] : moves) {
        fakes.input->cursor = Point{x, 500};
        server->screen().cursorTick();
        EXPECT_EQ(find<msg::Cursor>(phone->takeReceived()),
                  sent ? std::optional(msg::Cursor{x / 1600, 0.5}) : std::nullopt)
            << x;
    }
}

TEST_F(ScreenShare, AnUnpluggedDisplayMovesTheSelectionToTheMainDisplay)
{
    auto phone = pairedPhone();
    watch(*phone, false);
    phone->send(msg::SelectDisplay{{2}});
    ASSERT_TRUE(pumpUntil([&] { return server->screen().selectedDisplay() == 2; }));
    settle();
    phone->takeReceived();

    screenCapture->list.pop_back();
    fakes.displays->displays.pop_back();
    server->screen().screensChanged();
    ASSERT_TRUE(pumpUntil([&] { return server->screen().selectedDisplay() == 1; }));
    settle();
    EXPECT_EQ((screenCapture->calls.back()), (Call{Call::Kind::reconfigure, 1, 15}));
    EXPECT_EQ(find<msg::Displays>(phone->takeReceived()),
              (msg::Displays{{{1, "Main", false, true, 1600, 1000}}, 1}));
}

TEST_F(ScreenShare, OnePictureIsOutForAllViewersAndOneThatStopsReadingIsDroppedAfterTenSeconds)
{
    auto slow = pairedPhone("Slow"), quick = pairedPhone("Quick");
    watch(*slow, false);
    watch(*quick, false);
    slow->transport().holdSends = true;
    push(1000);
    ASSERT_EQ(pictures(*quick, 1).size(), 1u);
    EXPECT_EQ(server->screen().framesInFlight(), 1);
    // Taken while the slow phone still has the first: each replaces the last.
    push(800);
    push(500);
    settle();
    EXPECT_TRUE(quick->takeBinaries().empty())
        << "a second picture went out before the first arrived";

    slow->transport().holdSends = false;
    slow->transport().drain();
    EXPECT_EQ(pictures(*quick, 1), (Sizes{{1600, 500}}));
    settle();
    EXPECT_TRUE(quick->takeBinaries().empty()) << "a replaced picture was sent";
    EXPECT_EQ(server->screen().framesInFlight(), 0);

    slow->transport().holdSends = true;
    push();
    ASSERT_EQ(pictures(*quick, 1).size(), 1u);
    clockMs += ScreenShareSessions::stuckViewerMs - 1;
    server->screen().dropStuckViewers();
    EXPECT_TRUE(errors(*slow).empty()) << "dropped early";
    clockMs += 1;
    server->screen().dropStuckViewers();
    EXPECT_EQ(errors(*slow),
              std::vector<std::string>{"Screen sharing stopped: the connection is too slow"});
    EXPECT_EQ(server->status().screenViewerNames(), QStringList{QStringLiteral("Quick")});
    EXPECT_FALSE(slow->closed()) << "only its viewing ends";
    push(600);
    EXPECT_EQ(pictures(*quick, 1), (Sizes{{1600, 600}})) << "the others stayed paused";
}

} // namespace
} // namespace orvane::test
