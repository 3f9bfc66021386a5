// What screen sharing costs, on X displays of the benchmark's own (Xvfb,
// 1600 x 1000 and 3200 x 2000) showing a made-up desktop:
// - the bare steps of one frame: XShm grab, Pixman 2 x 2 shrink, TurboJPEG
//   encode, SecureSession seal;
// - the whole pipeline's CPU per frame (X11 source, throttle, encoder,
//   streamer, seal) against the sum of those steps, with every band of the
//   picture changing from one frame to the next;
// - the pipeline against ffmpeg's x11grab + mjpeg at the same size;
// - the process's CPU share while streaming 15 fps at 1600 px: with a patch
//   of the screen changing every frame (typing, a pointer, a clock), with
//   the whole screen changing every frame, with a static screen, and the
//   720 px preview.
//
//   orvane_capture_bench [--seconds N] [--frames N]    (defaults 20 and 150)
#include "bench_steps.h"
#include "capture/frame_encoder.h"
#include "capture/screen_streamer.h"
#include "platform/linux/x11/x11_screen_capture.h"
#include "platform/linux/x11/x11_shm_pool.h"
#include "protocol/secure_session.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <turbojpeg.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace orvane;
using namespace orvane::bench;
using Settings = ScreenStreamer::Settings;

// How the screen changes after each frame. A dot in every band of 16 rows
// makes the encoder code the whole picture again while the X server does
// almost nothing, as in the bare steps it is compared with; flipping every
// pixel also costs the X server two passes over the screen's memory.
enum class Change { none, patch, everyBand, everything };

// An Xvfb of its own with a made-up desktop: a gradient, and windows with
// lines of "text", so the encoder has the detail of a real screen.
class Display {
public:
    ~Display()
    {
        if (m_connection)
            xcb_disconnect(m_connection);
        if (m_xvfb.state() != QProcess::NotRunning) {
            m_xvfb.terminate();
            if (!m_xvfb.waitForFinished(5000))
                m_xvfb.kill();
            m_xvfb.waitForFinished(5000);
        }
    }

    bool start(int width, int height)
    {
        m_width = width;
        m_height = height;
        m_xvfb.start(QStringLiteral("Xvfb"),
                     {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                      QStringLiteral("0"), QStringLiteral("%1x%2x24").arg(width).arg(height),
                      QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        QByteArray number;
        QElapsedTimer clock;
        clock.start();
        while (m_xvfb.waitForStarted(100) && !number.endsWith('\n') && clock.elapsed() < 15000) {
            m_xvfb.waitForReadyRead(500);
            number += m_xvfb.readAllStandardOutput();
        }
        if (!number.endsWith('\n'))
            return false;
        m_name = ":" + number.trimmed().toStdString();
        use();
        m_connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(m_connection))
            return false;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        m_gc = xcb_generate_id(m_connection);
        xcb_create_gc(m_connection, m_gc, m_root, 0, nullptr);
        // Flips the lowest bit of every colour: each pixel changes, and the
        // picture keeps its detail.
        m_flip = xcb_generate_id(m_connection);
        const std::uint32_t flip[] = {XCB_GX_XOR, 0x010101u};
        xcb_create_gc(m_connection, m_flip, m_root, XCB_GC_FUNCTION | XCB_GC_FOREGROUND, flip);
        paintDesktop();
        return true;
    }

    void use() const { ::setenv("DISPLAY", m_name.c_str(), 1); }
    const std::string& name() const { return m_name; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    xcb_connection_t* connection() const { return m_connection; }
    xcb_window_t root() const { return m_root; }

    // A patch that moves and changes colour with `n`, or every pixel: a new
    // picture each time.
    void change(Change how, int n)
    {
        if (how == Change::everything) {
            const xcb_rectangle_t all{0, 0, std::uint16_t(m_width), std::uint16_t(m_height)};
            xcb_poly_fill_rectangle(m_connection, m_root, m_flip, 1, &all);
            xcb_flush(m_connection);
            return;
        }
        if (how == Change::none)
            return;
        const std::uint32_t colour = 0x204060u + std::uint32_t(n) * 0x0a1b2cu;
        xcb_change_gc(m_connection, m_gc, XCB_GC_FOREGROUND, &colour);
        if (how == Change::everyBand) {
            std::vector<xcb_rectangle_t> dots;
            for (int y = n % 16; y < m_height; y += 16)
                dots.push_back({std::int16_t((n * 7) % m_width), std::int16_t(y), 1, 1});
            xcb_poly_fill_rectangle(m_connection, m_root, m_gc, std::uint32_t(dots.size()),
                                    dots.data());
            xcb_flush(m_connection);
            return;
        }
        const xcb_rectangle_t patch{std::int16_t(40 + (n * 37) % (m_width - 200)),
                                    std::int16_t(40 + (n * 23) % (m_height - 200)), 120, 80};
        xcb_poly_fill_rectangle(m_connection, m_root, m_gc, 1, &patch);
        xcb_flush(m_connection);
    }

private:
    void paintDesktop();

    QProcess m_xvfb;
    std::string m_name;
    int m_width = 0, m_height = 0;
    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = 0;
    xcb_gcontext_t m_gc = 0;
    xcb_gcontext_t m_flip = 0;
};

void Display::paintDesktop()
{
    const std::vector<std::uint32_t> pixels = bench::madeUpDesktop(m_width, m_height);
    const std::uint32_t maxBytes = xcb_get_maximum_request_length(m_connection) * 4 - 64;
    const int rows = std::max(1, int(maxBytes / std::uint32_t(m_width * 4)));
    for (int y = 0; y < m_height; y += rows) {
        const int count = std::min(rows, m_height - y);
        xcb_put_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root, m_gc, std::uint16_t(m_width),
                      std::uint16_t(count), 0, std::int16_t(y), 0, 24,
                      std::uint32_t(count * m_width * 4),
                      reinterpret_cast<const std::uint8_t*>(&pixels[std::size_t(y) * m_width]));
    }
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}

// Pictures of the whole screen, taken as the X11 source takes them.
struct Grab {
    std::unique_ptr<X11ShmPool> pool;
    std::shared_ptr<X11ShmPool::Segment> segment;
    CapturedImage image;
};

Grab grabber(const Display& d)
{
    Grab grab;
    grab.pool = std::make_unique<X11ShmPool>(d.connection());
    grab.pool->setSize(std::size_t(d.width()) * std::size_t(d.height()) * 4);
    QString error;
    grab.segment = grab.pool->acquire(&error);
    grab.image = {d.width(), d.height(), d.width() * 4, grab.segment ? grab.segment->data : nullptr,
                  grab.segment};
    return grab;
}

bool grabOnce(const Display& d, const Grab& grab)
{
    xcb_connection_t* c = d.connection();
    const auto cookie =
        xcb_shm_get_image(c, d.root(), 0, 0, std::uint16_t(d.width()), std::uint16_t(d.height()),
                          ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, grab.segment->id, 0);
    xcb_shm_get_image_reply_t* reply = xcb_shm_get_image_reply(c, cookie, nullptr);
    const bool ok = reply != nullptr;
    std::free(reply);
    return ok;
}

struct BareSteps {
    Cost grabSmall, grabLarge, shrink, encode, seal;
    std::size_t jpegBytes = 0;
};

BareSteps bareSteps(const Display& small, const Display& large, int count)
{
    BareSteps steps;
    Grab smallGrab = grabber(small), largeGrab = grabber(large);
    steps.grabSmall = measure(count, [&] { grabOnce(small, smallGrab); });
    steps.grabLarge = measure(count, [&] { grabOnce(large, largeGrab); });
    FrameEncoder encoder;
    steps.shrink = measure(count, [&] { encoder.scaled(largeGrab.image, 1600); });
    tjhandle turbo = tjInitCompress();
    unsigned char* out = tjAlloc(int(tjBufSize(small.width(), small.height(), TJSAMP_420)));
    unsigned long size = 0;
    const CapturedImage& image = smallGrab.image;
    steps.encode = measure(count, [&] {
        size = tjBufSize(image.width, image.height, TJSAMP_420);
        tjCompress2(turbo, image.pixels, image.width, image.stride, image.height, TJPF_BGRX, &out,
                    &size, TJSAMP_420, FrameEncoder::quality, TJFLAG_NOREALLOC | TJFLAG_FASTDCT);
    });
    const Bytes jpeg(out, out + size);
    tjFree(out);
    tjDestroy(turbo);
    steps.jpegBytes = jpeg.size();
    SecureSession session(benchKeys());
    steps.seal = measure(count, [&] { session.sealFrame(FrameKind::binary, jpeg); });
    return steps;
}

struct Streamed {
    int frames = 0;
    double cpuSeconds = 0;
    double wallSeconds = 0;
    double cpuMsPerFrame() const { return frames ? cpuSeconds * 1000 / frames : 0; }
    double share() const { return wallSeconds > 0 ? cpuSeconds / wallSeconds * 100 : 0; }
};

// Streams `d` the way the server does, with the phone's side reduced to
// sealing each frame and acknowledging it at once. A changing screen changes
// right after each frame, so every frame has something new.
Streamed stream(Display& d, Settings settings, Change how, int frameLimit, double seconds)
{
    d.use();
    ScreenStreamer streamer(makeX11ScreenCapture(nullptr));
    SecureSession session(benchKeys());
    QEventLoop loop;
    int frames = 0, counted = -1;
    streamer.onFrame = [&](std::shared_ptr<const Bytes> jpeg) {
        session.sealFrame(FrameKind::binary, *jpeg);
        ++frames;
        d.change(how, frames);
        streamer.frameDone();
        if (counted >= 0 && frameLimit > 0 && frames - counted >= frameLimit)
            loop.quit();
    };
    std::optional<QString> failed;
    streamer.apply(settings, [&](std::optional<QString> error) { failed = error; });
    // The first frame (a few, when they keep coming) before counting.
    QTimer::singleShot(how != Change::none ? 3000 : 1000, &loop, &QEventLoop::quit);
    loop.exec();
    if (failed || frames == 0) {
        std::fprintf(stderr, "orvane_capture_bench: no frames: %s\n",
                     failed ? qPrintable(*failed) : "none arrived");
        return {};
    }
    counted = frames;
    const double cpu = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    Streamed result{frames - counted, processCpuSeconds() - cpu, double(wall.nsecsElapsed()) / 1e9};
    streamer.stop();
    return result;
}

// ffmpeg grabbing and encoding `frames` frames of the display, one thread
// for the encoder: its CPU time in milliseconds per frame, or -1. Each
// grabbed frame is encoded once; x11grab may stamp two frames alike, which
// the encoder refuses, so the variable-rate mode drops such a twin.
double ffmpegCpuMsPerFrame(const Display& d, int frames)
{
    const std::string size = std::to_string(d.width()) + "x" + std::to_string(d.height());
    const std::string count = std::to_string(frames);
    std::vector<std::string> args = {
        "ffmpeg",    "-nostdin", "-loglevel", "error", "-f",    "x11grab",  "-video_size",
        size,        "-i",       d.name(),    "-c:v",  "mjpeg", "-threads", "1",
        "-frames:v", count,      "-fps_mode", "vfr",   "-f",    "null",     "-"};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "ffmpeg", nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    rusage usage{};
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (::wait4(pid, &status, WNOHANG, &usage) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::wait4(pid, &status, 0, &usage);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    const double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return cpu * 1000 / frames;
}

void printBare(const BareSteps& s)
{
    std::printf("bare steps, one frame                          wall ms   cpu ms\n");
    const auto row = [](const char* what, const Cost& c) {
        std::printf("  %-44s %7.2f  %7.2f\n", what, c.wallMs, c.cpuMs);
    };
    row("XShm grab 1600x1000", s.grabSmall);
    row("XShm grab 3200x2000", s.grabLarge);
    row("Pixman 2x2 shrink 3200x2000 -> 1600x1000", s.shrink);
    row("TurboJPEG q55 4:2:0 1600x1000", s.encode);
    std::printf("    (%zu KB per frame)\n", s.jpegBytes / 1024);
    row("SecureSession seal of that frame", s.seal);
}

void printPipeline(const char* what, const Streamed& run, double bareCpuMs)
{
    const double ratio = bareCpuMs > 0 ? run.cpuMsPerFrame() / bareCpuMs : 0;
    std::printf("  %-30s %4d frames  %6.2f cpu ms/frame  bare sum %6.2f  ratio %.2fx "
                "(target <= 1.15x): %s\n",
                what, run.frames, run.cpuMsPerFrame(), bareCpuMs, ratio,
                verdict(run.frames > 0 && ratio <= 1.15));
}

void printShare(const char* what, const Streamed& run, double target)
{
    std::printf("  %-52s %5d frames in %4.1f s  %5.2f%% of a core (target %s %.0f%%): %s\n", what,
                run.frames, run.wallSeconds, run.share(), target >= 7 ? "<=" : "<", target,
                verdict(run.wallSeconds > 0 &&
                        (target >= 7 ? run.share() <= target : run.share() < target)));
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = 20;
    int frames = 150;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(1.0, std::atof(argv[++i]));
        else if (std::strcmp(argv[i], "--frames") == 0)
            frames = std::max(10, std::atoi(argv[++i]));
    }
    QCoreApplication app(argc, argv);
    std::printf("orvane capture benchmark; load average at start %s, %u cores\n\n",
                loadAverage().c_str(), std::thread::hardware_concurrency());
    Display small, large;
    if (!small.start(1600, 1000) || !large.start(3200, 2000)) {
        std::fprintf(stderr, "orvane_capture_bench: Xvfb (package xvfb) did not start\n");
        return 1;
    }
    const BareSteps bare = bareSteps(small, large, frames);
    printBare(bare);

    std::printf("\nwhole pipeline per frame, flat out, against the bare steps\n");
    const Streamed largeRun = stream(large, {1600, 1000}, Change::everyBand, frames, 120);
    printPipeline("3200x2000 -> 1600x1000", largeRun,
                  bare.grabLarge.cpuMs + bare.shrink.cpuMs + bare.encode.cpuMs + bare.seal.cpuMs);
    const Streamed smallRun = stream(small, {1600, 1000}, Change::everyBand, frames, 120);
    printPipeline("1600x1000 -> 1600x1000", smallRun,
                  bare.grabSmall.cpuMs + bare.encode.cpuMs + bare.seal.cpuMs);

    std::printf("\nagainst ffmpeg -f x11grab -c:v mjpeg -threads 1, 1600x1000, %d frames\n",
                frames);
    const double ffmpeg = ffmpegCpuMsPerFrame(small, frames);
    const double fewer = smallRun.cpuMsPerFrame() > 0 ? ffmpeg / smallRun.cpuMsPerFrame() : 0;
    if (ffmpeg <= 0)
        std::printf("  ffmpeg failed or is missing: no comparison (target >= 3x): MISSED\n");
    else
        std::printf("  ffmpeg %.2f cpu ms/frame, orvane %.2f: %.1fx fewer (target >= 3x): %s\n",
                    ffmpeg, smallRun.cpuMsPerFrame(), fewer, verdict(fewer >= 3));

    std::printf("\nprocess CPU over %.0f s on the 1600x1000 display\n", seconds);
    printShare("15 fps at 1600 px, a patch changing every frame",
               stream(small, {1600, 15}, Change::patch, 0, seconds), 7);
    printShare("15 fps at 1600 px, every band changing every frame",
               stream(small, {1600, 15}, Change::everyBand, 0, seconds), 7);
    printShare("15 fps at 1600 px, every pixel changing every frame",
               stream(small, {1600, 15}, Change::everything, 0, seconds), 7);
    printShare("static screen, 1600 px at 15 fps",
               stream(small, {1600, 15}, Change::none, 0, seconds), 1);
    printShare("720 px preview at 3 fps, a patch changing",
               stream(small, {720, 3}, Change::patch, 0, seconds), 1);
    std::printf("\nload average at end %s\n", loadAverage().c_str());
    return 0;
}
