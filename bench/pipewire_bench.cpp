// What sharing a screen from a PipeWire stream costs, on the PipeWire of the
// headless GNOME session (ORVANE_TEST_GNOME_RUNTIME_DIR, as
// scripts/services.sh starts it), with a video source in a child process
// showing a made-up desktop at 3200 x 2000 and at 1600 x 1000, sent at
// 1600 px:
// - the bare steps of one frame on the same pixels: copying the frame out of
//   the stream's buffer, Pixman 2 x 2 shrink, TurboJPEG encode,
//   SecureSession seal;
// - the whole pipeline's CPU per frame (PipeWire source, pacing, cursor,
//   encoder, streamer, seal) against the sum of those steps, with every
//   band of 16 rows changing from one frame to the next.
// The source's own work happens in the child and is not counted.
//
//   orvane_pipewire_bench [--frames N]    (default 150)
#include "bench_steps.h"
#include "capture/frame_encoder.h"
#include "capture/screen_streamer.h"
#include "pipewire/test_source.h"
#include "platform/linux/pipewire/pipewire_screen_capture.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <sys/wait.h>
#include <unistd.h>

#include <turbojpeg.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using namespace orvane;
using namespace orvane::bench;

struct Size {
    int width, height;
};

// A dot in every band of 16 rows: the encoder codes the whole picture again.
void changeEveryBand(std::vector<std::uint32_t>& pixels, Size size, int n)
{
    const auto [width, height] = size;
    for (int y = n % 16; y < height; y += 16)
        pixels[std::size_t(y) * width + std::size_t((n * 7) % width)] ^= 0x0a1b2cu;
}

// The child: a source that sends frame n when the parent writes n.
[[noreturn]] void runSource(Size size, int toParent, int fromParent)
{
    std::vector<std::uint32_t> pixels = bench::madeUpDesktop(size.width, size.height);
    std::string error;
    auto source = test::TestSource::start(size.width, size.height, &error);
    const std::uint32_t node = source ? source->nodeId() : 0;
    if (::write(toParent, &node, sizeof node) != sizeof node || !source)
        std::_Exit(1);
    int n = 0;
    while (::read(fromParent, &n, sizeof n) == sizeof n) {
        changeEveryBand(pixels, size, n);
        test::TestSource::Frame frame;
        frame.pixels = pixels.data();
        source->send(frame);
    }
    source.reset();
    std::_Exit(0);
}

class OneStream : public ScreenStreamOpener {
public:
    OneStream(std::uint32_t node, Size size) : m_node(node), m_size(size) {}
    bool available() override { return true; }
    std::vector<CaptureDisplay> displays() override
    {
        return {{1, m_size.width, m_size.height, 1, true}};
    }
    void open(std::uint32_t, Opened done) override
    {
        QTimer::singleShot(0, [done, node = m_node] {
            done(ScreenStreamHandle{-1, node, {}}, {});
        });
    }

private:
    std::uint32_t m_node;
    Size m_size;
};

struct BareSteps {
    Cost copy, shrink, encode, seal;
    std::size_t jpegBytes = 0;
    double sum() const { return copy.cpuMs + shrink.cpuMs + encode.cpuMs + seal.cpuMs; }
};

// The steps on the large picture, shrunk when it is larger than 1600 px.
BareSteps bareSteps(Size size, int count)
{
    const std::vector<std::uint32_t> large = bench::madeUpDesktop(size.width, size.height);
    BareSteps steps;
    std::vector<std::uint32_t> copy(large.size());
    steps.copy = measure(count, [&] {
        std::memcpy(copy.data(), large.data(), large.size() * 4);
        asm volatile("" : : "r"(copy.data()) : "memory");
    });
    FrameEncoder encoder;
    const CapturedImage image{size.width,
                              size.height,
                              size.width * 4,
                              reinterpret_cast<const std::uint8_t*>(large.data()),
                              {},
                              {}};
    if (size.width > 1600)
        steps.shrink = measure(count, [&] { encoder.scaled(image, 1600); });
    const Size small{1600, 1600 * size.height / size.width};
    const std::vector<std::uint32_t> pixels = bench::madeUpDesktop(small.width, small.height);
    const int width = small.width, height = small.height;
    tjhandle turbo = tjInitCompress();
    unsigned char* out = tjAlloc(int(tjBufSize(width, height, TJSAMP_420)));
    unsigned long jpegSize = 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(pixels.data());
    steps.encode = measure(count, [&] {
        jpegSize = tjBufSize(width, height, TJSAMP_420);
        tjCompress2(turbo, bytes, width, width * 4, height, TJPF_BGRX, &out, &jpegSize, TJSAMP_420,
                    FrameEncoder::quality, TJFLAG_NOREALLOC | TJFLAG_FASTDCT);
    });
    const Bytes jpeg(out, out + jpegSize);
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
};

// Streams the child's source the way the server does, with the phone's side
// reduced to sealing each frame and acknowledging it at once; each frame
// asks the source for the next.
Streamed stream(std::uint32_t node, Size size, int toSource, int frameLimit)
{
    ScreenStreamer streamer(makePipeWireScreenCapture(std::make_shared<OneStream>(node, size)));
    SecureSession session(benchKeys());
    QEventLoop loop;
    int frames = 0, counted = -1;
    const auto ask = [&] { [[maybe_unused]] auto n = ::write(toSource, &frames, sizeof frames); };
    streamer.onFrame = [&](std::shared_ptr<const Bytes> jpeg) {
        session.sealFrame(FrameKind::binary, *jpeg);
        ++frames;
        ask();
        streamer.frameDone();
        if (counted >= 0 && frames - counted >= frameLimit)
            loop.quit();
    };
    std::optional<QString> failed;
    streamer.onStop = [&](const QString& why) { failed = why, loop.quit(); };
    streamer.apply({1600, 1000}, [&](std::optional<QString> error) {
        if (error)
            failed = error;
    });
    QTimer::singleShot(1000, [&] { ask(); }); // the stream is linked by then
    QTimer::singleShot(4000, &loop, &QEventLoop::quit);
    loop.exec();
    if (failed || frames == 0) {
        std::fprintf(stderr, "orvane_pipewire_bench: no frames: %s\n",
                     failed ? qPrintable(*failed) : "none arrived");
        return {};
    }
    counted = frames;
    const double cpu = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(120'000, &loop, &QEventLoop::quit);
    loop.exec();
    Streamed result{frames - counted, processCpuSeconds() - cpu, double(wall.nsecsElapsed()) / 1e9};
    streamer.stop();
    return result;
}

// A source in a child process, so that its work is not counted.
Streamed streamFromChild(Size size, int frames)
{
    int up[2], down[2];
    if (::pipe(up) != 0 || ::pipe(down) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(up[0]);
        ::close(down[1]);
        runSource(size, up[1], down[0]);
    }
    ::close(up[1]);
    ::close(down[0]);
    std::uint32_t node = 0;
    Streamed run;
    if (::read(up[0], &node, sizeof node) == sizeof node && node != 0)
        run = stream(node, size, down[1], frames);
    else
        std::fprintf(stderr, "orvane_pipewire_bench: the video source did not start\n");
    ::close(up[0]);
    ::close(down[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    int frames = 150;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--frames") == 0)
            frames = std::max(10, std::atoi(argv[++i]));
    }
    const char* runtime = std::getenv("ORVANE_TEST_GNOME_RUNTIME_DIR");
    if (!runtime || qgetenv("ORVANE_TEST_GNOME_OK") != "1") {
        const QByteArray why = qgetenv("ORVANE_TEST_GNOME_ERROR");
        std::fprintf(stderr, "orvane_pipewire_bench: no headless GNOME session (%s)\n",
                     why.isEmpty() ? "ORVANE_TEST_GNOME_OK is not set" : why.constData());
        return 1;
    }
    ::setenv("PIPEWIRE_RUNTIME_DIR", runtime, 1);
    QCoreApplication app(argc, argv);
    std::printf("orvane PipeWire capture benchmark; load average at start %s, %u cores\n",
                loadAverage().c_str(), std::thread::hardware_concurrency());
    for (const Size size : {Size{3200, 2000}, Size{1600, 1000}}) {
        const BareSteps bare = bareSteps(size, frames);
        std::printf("\n%dx%d, bare steps of one frame            wall ms   cpu ms\n", size.width,
                    size.height);
        const auto row = [](const char* what, const Cost& c) {
            std::printf("  %-44s %7.2f  %7.2f\n", what, c.wallMs, c.cpuMs);
        };
        row("copy of the frame", bare.copy);
        if (size.width > 1600)
            row("Pixman 2x2 shrink to 1600 px", bare.shrink);
        row("TurboJPEG q55 4:2:0 at 1600 px", bare.encode);
        std::printf("    (%zu KB per frame)\n", bare.jpegBytes / 1024);
        row("SecureSession seal of that frame", bare.seal);
        const Streamed run = streamFromChild(size, frames);
        const double ratio = bare.sum() > 0 ? run.cpuMsPerFrame() / bare.sum() : 0;
        std::printf("  whole pipeline, flat out: pipewire %dx%d -> 1600 px %d frames in %.1f s "
                    "%.2f cpu ms/frame bare sum %.2f ratio %.2fx (target <= 1.15x): %s\n",
                    size.width, size.height, run.frames, run.wallSeconds, run.cpuMsPerFrame(),
                    bare.sum(), ratio, verdict(run.frames > 0 && ratio <= 1.15));
    }
    std::printf("\nload average at end %s\n", loadAverage().c_str());
    return 0;
}
