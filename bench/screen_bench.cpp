// Screen sharing as a phone sees it: the real server, headless, on an Xvfb
// of the benchmark's own (1600 x 1000) showing a made-up desktop, watched by
// a phone on loopback.
// - Glass to phone: from the X request that paints a test pattern to the
//   arrival of the first frame that shows it, at 15 fps.
// - The server's CPU share over a stretch of time: 15 fps at 1600 px with a
//   screen that changes faster than that, a static screen, and the 720 px
//   preview at 3 fps of a changing screen.
//
//   orvane_screen_bench [--seconds N] [--samples N]    (defaults 20 and 60)
#include "server_process.h"

#include "phone/phone_client.h"

#include "protocol/random.h"

#include <turbojpeg.h>
#include <xcb/xcb.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using namespace orvane;
using bench::Clock;
using bench::Server;

constexpr int width = 1600, height = 1000, timeoutMs = 10'000;

int fail(const std::string& why)
{
    std::fprintf(stderr, "orvane_screen_bench: %s\n", why.c_str());
    return 1;
}

// An Xvfb of our own; DISPLAY names it while it runs, for the server too.
class Xvfb {
public:
    bool start()
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        // Closed first: the read end may be the very descriptor 3.
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        std::string size = std::to_string(width) + "x" + std::to_string(height) + "x24";
        std::vector<std::string> args = {"Xvfb", "-displayfd", "3",         "-screen",
                                         "0",    size,         "-nolisten", "tcp"};
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        const bool spawned =
            ::posix_spawnp(&m_pid, "Xvfb", &actions, nullptr, argv.data(), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        std::string number;
        char c = 0;
        while (spawned && ::read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(fds[0]);
        if (number.empty())
            return false;
        ::setenv("DISPLAY", (":" + number).c_str(), 1);
        return true;
    }
    ~Xvfb()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

private:
    pid_t m_pid = -1;
};

// A connection that paints on the root window.
class Painter {
public:
    bool open()
    {
        m_c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(m_c))
            return false;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;
        m_gc = xcb_generate_id(m_c);
        xcb_create_gc(m_c, m_gc, m_root, 0, nullptr);
        return true;
    }
    ~Painter()
    {
        if (m_c)
            xcb_disconnect(m_c);
    }
    void fill(int x, int y, int w, int h, std::uint32_t rgb)
    {
        xcb_change_gc(m_c, m_gc, XCB_GC_FOREGROUND, &rgb);
        xcb_rectangle_t r{std::int16_t(x), std::int16_t(y), std::uint16_t(w), std::uint16_t(h)};
        xcb_poly_fill_rectangle(m_c, m_root, m_gc, 1, &r);
        xcb_flush(m_c);
    }
    // A made-up desktop: a gradient and a few windows.
    void desktop()
    {
        for (int x = 0; x < width; x += 8)
            fill(x, 0, 8, height, std::uint32_t(0x203040 + (x / 8) * 0x000101));
        std::uint32_t seed = 7;
        for (int i = 0; i < 30; ++i) {
            seed = seed * 1103515245 + 12345;
            fill(int(seed % 1200), int((seed >> 8) % 700), 300, 250, seed & 0xffffff);
        }
        sync();
    }
    void sync() { free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr)); }

private:
    xcb_connection_t* m_c = nullptr;
    xcb_window_t m_root = 0;
    xcb_gcontext_t m_gc = 0;
};

// A patch that changes every 20 ms, from a thread of its own.
class Changer {
public:
    bool start()
    {
        if (!m_painter.open())
            return false;
        m_thread = std::thread([this] {
            for (int n = 0; !m_stop; ++n) {
                m_painter.fill(100 + (n * 37) % 1200, 100 + (n * 23) % 700, 200, 150,
                               std::uint32_t(n) * 0x050301);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        return true;
    }
    ~Changer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    Painter m_painter;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// The colour at (x, y) of a full-size frame, decoded at an eighth of its size.
std::uint32_t colourAt(tjhandle decoder, const Bytes& jpeg, int x, int y)
{
    const int w = width / 8, h = height / 8;
    std::vector<unsigned char> rgb(std::size_t(w) * h * 3);
    if (tjDecompress2(decoder, jpeg.data(), jpeg.size(), rgb.data(), w, 0, h, TJPF_RGB, 0) != 0)
        return 0xffffffff;
    const unsigned char* p = &rgb[(std::size_t(y / 8) * w + x / 8) * 3];
    return std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
}

// Waits for the next frame; its arrival time and bytes.
std::optional<std::pair<Clock::time_point, Bytes>> nextFrame(phone::PhoneClient& phone, int ms)
{
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        auto event = phone.receiveEvent(int(std::max<long>(
            1, std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count())));
        if (!event)
            continue;
        if (auto* binary = std::get_if<frame_event::Binary>(&*event))
            return std::pair{Clock::now(), std::move(binary->body)};
    }
    return std::nullopt;
}

// Glass to phone, in ms: a 800 x 500 block in the middle turns red or blue,
// and the first frame showing it is timed.
std::vector<double> latencies(phone::PhoneClient& phone, int samples)
{
    Painter painter;
    tjhandle decoder = tjInitDecompress();
    std::vector<double> ms;
    if (!painter.open() || !decoder)
        return ms;
    for (int i = 0; i < samples; ++i) {
        // Let the stream go quiet, at a phase of the frame interval that varies.
        while (nextFrame(phone, 150 + (i * 37) % 67)) {
        }
        const std::uint32_t colour = i % 2 ? 0xff0000 : 0x0000ff;
        const auto painted = Clock::now();
        painter.fill(400, 250, 800, 500, colour);
        while (auto frame = nextFrame(phone, 2000)) {
            const std::uint32_t seen = colourAt(decoder, frame->second, 600, 400);
            const bool shows = colour == 0xff0000 ? (seen >> 16) > 200 && (seen & 0xff) < 60
                                                  : (seen & 0xff) > 200 && (seen >> 16) < 60;
            if (shows) {
                ms.push_back(
                    std::chrono::duration<double, std::milli>(frame->first - painted).count());
                break;
            }
        }
    }
    tjDestroy(decoder);
    return ms;
}

// The server's CPU share while the phone watches for `seconds`, and the
// frames that arrived.
std::pair<double, int> share(Server& server, phone::PhoneClient& phone, bool preview, bool changing,
                             double seconds)
{
    (void)phone.send(msg::StopScreenShare{});
    (void)phone.send(msg::StartScreenShare{{preview}});
    std::optional<Changer> changer;
    if (changing && !changer.emplace().start())
        return {-1, 0};
    for (const auto warm = Clock::now() + std::chrono::seconds(2); Clock::now() < warm;)
        nextFrame(phone, 100);
    const double cpu = server.cpuSeconds();
    const auto begun = Clock::now();
    const auto end = begun + std::chrono::milliseconds(int(seconds * 1000));
    int frames = 0;
    while (Clock::now() < end)
        frames += nextFrame(phone, 100).has_value();
    const double wall = std::chrono::duration<double>(Clock::now() - begun).count();
    return {(server.cpuSeconds() - cpu) / wall * 100, frames};
}

double percentile(std::vector<double> ms, double p)
{
    std::sort(ms.begin(), ms.end());
    return ms.empty() ? -1 : ms[std::min(ms.size() - 1, std::size_t(p / 100 * double(ms.size())))];
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = 20;
    int samples = 60;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(1.0, std::atof(argv[i + 1]));
        else if (std::strcmp(argv[i], "--samples") == 0)
            samples = std::max(5, std::atoi(argv[i + 1]));
    }
    ::signal(SIGPIPE, SIG_IGN);
    Xvfb xvfb;
    if (!xvfb.start())
        return fail("Xvfb (package xvfb) did not start");
    Painter desktop;
    if (!desktop.open())
        return fail("cannot reach the X display");
    desktop.desktop();
    Server server;
    const std::string port = server.waitForLine(std::regex("^orvane: listening on port (\\d+)"));
    if (port.empty())
        return fail(std::string("cannot start ") + ORVANE_SERVER_PATH);
    phone::PhoneClient phone;
    phone.setTimeout(timeoutMs);
    if (!phone.connect("127.0.0.1", std::uint16_t(std::stoi(port)), timeoutMs) ||
        !phone.hello("Bench", makeUuid(systemRandom()), false))
        return fail("no key exchange for pairing");
    const std::string code =
        server.waitForLine(std::regex("^orvane: pairing request from \"Bench\" code (\\d{6})$"));
    auto paired = phone.pairWithCode(code);
    if (!paired || paired->kind != phone::PairOutcome::Kind::paired)
        return fail("pairing failed");

    std::printf("orvane screen benchmark, %dx%d Xvfb, %u cores\n\n", width, height,
                std::thread::hardware_concurrency());
    (void)phone.send(msg::StartScreenShare{{false}});
    const std::vector<double> ms = latencies(phone, samples);
    const double p50 = percentile(ms, 50);
    std::printf("glass to phone at 15 fps, %zu of %d samples: p50 %.1f ms, p90 %.1f ms, max %.1f "
                "ms (target p50 < 30 ms): %s\n\n",
                ms.size(), samples, p50, percentile(ms, 90), percentile(ms, 100),
                p50 >= 0 && p50 < 30 ? "met" : "MISSED");

    std::printf("server process CPU over %.0f s\n", seconds);
    struct Load {
        const char* what;
        bool preview, changing;
        double target;
    };
    for (const Load& load : {Load{"15 fps at 1600 px, changing every frame", false, true, 7},
                             Load{"static screen, 1600 px at 15 fps", false, false, 1},
                             Load{"720 px preview at 3 fps, changing", true, true, 1}}) {
        auto [percent, frames] = share(server, phone, load.preview, load.changing, seconds);
        const bool met = load.target >= 7 ? percent <= load.target : percent < load.target;
        std::printf("  %-40s %5d frames  %5.2f%% of a core (target %s %.0f%%): %s\n", load.what,
                    frames, percent, load.target >= 7 ? "<=" : "<", load.target,
                    percent >= 0 && met ? "met" : "MISSED");
    }
    return 0;
}
