// Screen sharing end to end: the real server on the test display, watched
// through orvane-phone. A painter keeps the screen changing where the test
// needs pictures to flow; the server's own status line shows what it holds.
#include "command_line_fixture.h"

#include "screen_painter.h"

#include "support/jpeg_size.h"

#include <csignal>

namespace orvane::phone {
namespace {

using Clock = std::chrono::steady_clock;
using testing::Painter;

class Screen : public CommandLine {
protected:
    fs::path stateOf(const std::string& phone) const { return m_home / ("state-" + phone); }
    std::vector<std::string> phoneArgs(const std::string& phone, std::vector<std::string> args)
    {
        args.insert(args.begin(), {ORVANE_PHONE_PATH, "--port", std::to_string(m_port),
                                   "--state-dir", stateOf(phone).string()});
        return args;
    }
    void pairPhone(const std::string& phone)
    {
        ChildProcess pair(phoneArgs(phone, {"pair", "--name", "E2E phone"}), env());
        pair.writeInput(nextCode() + "\n");
        pair.closeInput();
        ASSERT_EQ(pair.wait(timeoutMs), 0) << pair.errors();
    }
    std::unique_ptr<ChildProcess> watch(const std::string& phone, std::vector<std::string> args)
    {
        args.insert(args.begin(), "watch");
        return std::make_unique<ChildProcess>(phoneArgs(phone, args), env());
    }
    Run run(const std::string& phone, std::vector<std::string> args)
    {
        auto child = watch(phone, std::move(args));
        int status = child->wait(timeoutMs).value_or(-1);
        return {status, child->output(), child->errors()};
    }
    // The server's figures: viewers, frames in flight, bytes waiting.
    std::array<long long, 3> status()
    {
        m_server->writeInput("status\n");
        auto line = m_server->waitForLine(
            std::regex("^orvane: status .* viewers (\\d+) frames-in-flight (\\d+) bytes-waiting "
                       "(\\d+)"),
            timeoutMs);
        EXPECT_TRUE(line) << "no status line";
        if (!line)
            return {-1, -1, -1};
        return {std::stoll((*line)[1]), std::stoll((*line)[2]), std::stoll((*line)[3])};
    }
    // Waits for the number of viewers the server reports.
    bool viewersBecome(long long viewers, int withinMs)
    {
        const auto end = Clock::now() + std::chrono::milliseconds(withinMs);
        while (Clock::now() < end) {
            if (status()[0] == viewers)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return false;
    }
    static std::vector<std::string> selectedLines(const std::string& output)
    {
        std::vector<std::string> found;
        std::regex selected("display (\\d+) .* selected");
        for (std::sregex_iterator i(output.begin(), output.end(), selected), end; i != end; ++i)
            found.push_back((*i)[1]);
        return found;
    }
};

TEST_F(Screen, PreviewAndFullSizeAndAnUnknownDisplayKeepsTheSelection)
{
    ASSERT_TRUE(displayProvided());
    pairPhone("a");
    // The test display is 1280 x 800: a preview is 720 wide, full size
    // twice the points but at most 1600.
    const std::pair<std::vector<std::string>, std::pair<int, int>> sizes[] = {
        {{"--preview"}, {720, 450}}, {{}, {1600, 1000}}};
    for (const auto& [flags, size] : sizes) {
        const fs::path dir = m_home / ("frames" + std::to_string(size.first));
        std::vector<std::string> args = {"--frames", "1", "--save", dir.string()};
        args.insert(args.end(), flags.begin(), flags.end());
        Run watched = run("a", args);
        ASSERT_EQ(watched.status, 0) << watched.errors;
        const std::string jpeg = readFile(dir / "frame-000001.jpg");
        EXPECT_EQ(test::jpegSize(std::vector<std::uint8_t>(jpeg.begin(), jpeg.end())), size);
        EXPECT_EQ(selectedLines(watched.output).size(), 1u) << watched.output;
    }

    Run unknown = run("a", {"--display", "4242", "--seconds", "1.5"});
    ASSERT_EQ(unknown.status, 0) << unknown.errors;
    auto selected = selectedLines(unknown.output);
    ASSERT_EQ(selected.size(), 2u) << "the displays were not sent again:\n" << unknown.output;
    EXPECT_EQ(selected[0], selected[1]);
    EXPECT_NE(selected[1], "4242");
    EXPECT_TRUE(
        m_server->waitForLine(std::regex("Couldn't switch display \\(failed\\)"), timeoutMs));
}

// A window under the whole test display hears the buttons of a right
// double click that orvane-phone sends while it watches.
TEST_F(Screen, APointerClickLandsWhereThePhoneAsked)
{
    ASSERT_TRUE(displayProvided());
    pairPhone("a");
    test::XTestClient x;
    ASSERT_TRUE(x.open());
    const xcb_window_t window = x.createWindow(0, "PointerTarget");
    const std::uint32_t buttons = XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE;
    xcb_change_window_attributes(x.connection(), window, XCB_CW_EVENT_MASK, &buttons);
    x.sync();

    ChildProcess click(
        phoneArgs("a", {"pointer", "click", "0.25", "0.5", "--right", "--count", "2"}), env());
    ASSERT_EQ(click.wait(timeoutMs), 0) << click.errors();
    EXPECT_NE(click.output().find("cursor at 0.25 0.5\n"), std::string::npos) << click.output();
    // The test display is 1280 x 800.
    std::vector<std::string> heard;
    EXPECT_TRUE(test::eventually([&] {
        while (xcb_generic_event_t* event = xcb_poll_for_event(x.connection())) {
            const auto type = event->response_type & 0x7f;
            if (type == XCB_BUTTON_PRESS || type == XCB_BUTTON_RELEASE) {
                const auto* button = reinterpret_cast<xcb_button_press_event_t*>(event);
                heard.push_back((type == XCB_BUTTON_PRESS ? "press " : "release ") +
                                std::to_string(button->detail) + " at " +
                                std::to_string(button->root_x) + "," +
                                std::to_string(button->root_y));
            }
            std::free(event);
        }
        return heard.size() >= 4;
    }));
    EXPECT_EQ(heard, (std::vector<std::string>{"press 3 at 320,400", "release 3 at 320,400",
                                               "press 3 at 320,400", "release 3 at 320,400"}));
}

TEST_F(Screen, StoppingEndsThePicturesAndASlowReaderPacesTheStream)
{
    ASSERT_TRUE(displayProvided());
    Painter painter;
    ASSERT_TRUE(painter.start());
    auto phone = pairedPhone(makeUuid(systemRandom()));
    ASSERT_TRUE(phone->send(msg::StartScreenShare{{false}}).ok());
    int frames = 0;
    while (frames < 5) {
        auto event = phone->receiveEvent(timeoutMs);
        ASSERT_TRUE(event) << event.error().message;
        frames += std::holds_alternative<frame_event::Binary>(*event);
    }
    ASSERT_TRUE(phone->send(msg::StopScreenShare{}).ok());
    const auto end = Clock::now() + std::chrono::seconds(1);
    int late = 0;
    while (Clock::now() < end) {
        auto event = phone->receiveEvent(100);
        late += event && std::holds_alternative<frame_event::Binary>(*event);
    }
    EXPECT_LE(late, 1) << "only the picture already on its way may follow the stop";
    phone.reset();

    pairPhone("slow");
    auto slow = watch("slow", {"--slow", "500", "--seconds", "8"});
    long long mostWaiting = 0;
    for (int i = 0; i < 10; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        auto [viewers, inFlight, waiting] = status();
        EXPECT_EQ(viewers, 1);
        EXPECT_LE(inFlight, 1);
        mostWaiting = std::max(mostWaiting, waiting);
    }
    // One picture of noise at 1600 x 1000 is well under 2 MB; a queue would
    // grow past that within seconds at 15 pictures a second.
    EXPECT_LT(mostWaiting, 2 << 20);
    ASSERT_EQ(slow->wait(timeoutMs), 0) << slow->errors();
    auto total = slow->waitForLine(std::regex("^(\\d+) frames, "), timeoutMs);
    ASSERT_TRUE(total);
    EXPECT_GE(std::stoi((*total)[1]), 8) << "the stream did not go on at the reader's pace";
}

TEST_F(Screen, AStuckViewerIsDroppedAndALeavingOneLeavesTheOthersWatching)
{
    ASSERT_TRUE(displayProvided());
    for (const char* phone : {"stuck", "gone", "steady"})
        pairPhone(phone);
    Painter painter;
    ASSERT_TRUE(painter.start());
    auto stuck = watch("stuck", {"--seconds", "60"});
    auto gone = watch("gone", {"--seconds", "60"});
    auto steady = watch("steady", {"--seconds", "60"});
    ASSERT_TRUE(viewersBecome(3, timeoutMs));

    gone->signal(SIGKILL);
    ASSERT_TRUE(viewersBecome(2, timeoutMs)) << "a phone that left is still a viewer";
    stuck->signal(SIGSTOP);
    const auto stopped = Clock::now();
    ASSERT_TRUE(viewersBecome(1, 40'000)) << "the stuck viewer was never dropped";
    EXPECT_GE(Clock::now() - stopped, std::chrono::seconds(10));
    // The steady phone goes on: pictures in the seconds after the drop.
    const std::size_t seen = steady->output().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    const std::string after = steady->output().substr(seen);
    EXPECT_TRUE(std::regex_search(after, std::regex("(^|\n)[1-9]\\d* frames/s"))) << after;

    stuck->signal(SIGCONT);
    EXPECT_EQ(stuck->wait(timeoutMs), 1);
    EXPECT_NE(stuck->errors().find("Screen sharing stopped: the connection is too slow"),
              std::string::npos)
        << stuck->errors();
}

} // namespace
} // namespace orvane::phone
