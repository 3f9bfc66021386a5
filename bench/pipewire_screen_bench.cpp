// Screen sharing from mutter's own screen cast on the headless GNOME session
// (scripts/services.sh), with a full-screen test window (the Wayland probe)
// whose colour the benchmark changes:
// - glass to phone: from asking the window for a new colour to the first
//   encoded frame that shows it, p50, at 30 fps; the baseline is the
//   stream's own frame interval while the window changes all the time;
// - the process's CPU share on a still screen while a phone watches at
//   15 fps.
//
//   orvane_pipewire_screen_bench [--samples N] [--seconds N]    (defaults 40 and 20)
#include "bench_steps.h"
#include "capture/screen_streamer.h"
#include "pipewire/mutter_cast.h"
#include "platform/linux/pipewire/pipewire_screen_capture.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <turbojpeg.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using namespace orvane;
using namespace orvane::bench;
using Clock = std::chrono::steady_clock;

constexpr int width = 1600, height = 1000;

class MonitorStream : public ScreenStreamOpener {
public:
    explicit MonitorStream(std::uint32_t node) : m_node(node) {}
    bool available() override { return true; }
    std::vector<CaptureDisplay> displays() override { return {{1, width, height, 1, true}}; }
    void open(std::uint32_t, Opened done) override
    {
        QTimer::singleShot(0, [done, node = m_node] {
            done(ScreenStreamHandle{-1, node, {}}, {});
        });
    }

private:
    std::uint32_t m_node;
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

bool near(std::uint32_t a, std::uint32_t b)
{
    for (int shift = 0; shift < 24; shift += 8) {
        if (std::abs(int((a >> shift) & 0xff) - int((b >> shift) & 0xff)) > 24)
            return false;
    }
    return true;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Runs the event loop until `done` holds or `ms` pass, asleep in between:
// the share of a core that a still screen costs must not count the wait.
template <class F> bool waitFor(F done, int ms)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done())
            loop.quit();
    });
    check.start(1);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    if (!done())
        loop.exec();
    return done();
}

void idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void paint(QProcess& probe, std::uint32_t rgb)
{
    probe.write(QStringLiteral("colour %1\n").arg(rgb, 6, 16, QChar('0')).toLatin1());
}

} // namespace

int main(int argc, char** argv)
{
    int samples = 40;
    double seconds = 20;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--samples") == 0)
            samples = std::max(5, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(1.0, std::atof(argv[++i]));
    }
    QCoreApplication app(argc, argv);
    if (qgetenv("ORVANE_TEST_GNOME_OK") != "1") {
        std::fprintf(stderr, "orvane_pipewire_screen_bench: no headless GNOME session (%s)\n",
                     qgetenv("ORVANE_TEST_GNOME_ERROR").constData());
        return 1;
    }
    qputenv("PIPEWIRE_RUNTIME_DIR", qgetenv("ORVANE_TEST_GNOME_RUNTIME_DIR"));
    std::printf("orvane PipeWire screen benchmark on mutter; load average at start %s, %u cores\n",
                loadAverage().c_str(), std::thread::hardware_concurrency());
    QProcess probe;
    if (!test::startWaylandProbe(probe, "202020")) {
        std::fprintf(stderr, "orvane_pipewire_screen_bench: the test window did not show\n");
        return 1;
    }
    test::MutterCast cast(
        QDBusConnection::connectToBus(qEnvironmentVariable("ORVANE_TEST_GNOME_BUS"), "bench-cast"));
    QString error;
    const std::optional<std::uint32_t> node = cast.start(&error);
    if (!node) {
        std::fprintf(stderr, "orvane_pipewire_screen_bench: %s\n", qPrintable(error));
        return 1;
    }
    ScreenStreamer streamer(makePipeWireScreenCapture(std::make_shared<MonitorStream>(*node)));
    tjhandle decoder = tjInitDecompress();
    std::optional<std::uint32_t> wanted;
    Clock::time_point askedAt;
    std::vector<double> latencies;
    std::vector<Clock::time_point> arrivals;
    streamer.onFrame = [&](std::shared_ptr<const Bytes> jpeg) {
        const Clock::time_point now = Clock::now();
        arrivals.push_back(now);
        if (wanted && near(colourAt(decoder, *jpeg, 100, 100), *wanted)) {
            latencies.push_back(std::chrono::duration<double, std::milli>(now - askedAt).count());
            wanted.reset();
        }
        streamer.frameDone();
    };
    streamer.apply({width, 30}, [](std::optional<QString>) {});
    if (!waitFor([&] { return !arrivals.empty(); }, 10'000)) {
        std::fprintf(stderr, "orvane_pipewire_screen_bench: no frames\n");
        return 1;
    }

    // The stream's own pace: the window changes colour every 5 ms for 3 s.
    arrivals.clear();
    QTimer churn;
    int turn = 0;
    QObject::connect(&churn, &QTimer::timeout,
                     [&] { paint(probe, ++turn % 2 ? 0x406080u : 0x604020u); });
    churn.start(5);
    idle(3000);
    churn.stop();
    std::vector<double> gaps;
    for (std::size_t i = 1; i < arrivals.size(); ++i)
        gaps.push_back(
            std::chrono::duration<double, std::milli>(arrivals[i] - arrivals[i - 1]).count());
    const double interval = median(gaps);

    int missed = 0;
    for (int i = 0; i < samples; ++i) {
        idle(150);
        const std::uint32_t colour = i % 2 ? 0xc03030u : 0x3030c0u;
        wanted = colour;
        askedAt = Clock::now();
        paint(probe, colour);
        if (!waitFor([&] { return !wanted; }, 2000)) {
            ++missed;
            wanted.reset();
        }
    }
    const double p50 = median(latencies);
    std::printf("  glass to phone at 30 fps, %zu of %d samples: p50 %.1f ms, the stream's frame "
                "interval %.1f ms (target < 50 ms): %s\n",
                latencies.size(), samples, p50, interval,
                verdict(missed == 0 && !latencies.empty() && p50 < 50));

    streamer.apply({width, 15}, [](std::optional<QString>) {});
    // GTK blinks the window's text caret for 10 s after the last change;
    // after that the screen is still.
    idle(12'000);
    const std::size_t before = arrivals.size();
    const double cpu = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    idle(int(seconds * 1000));
    const double share = (processCpuSeconds() - cpu) / (double(wall.nsecsElapsed()) / 1e9) * 100;
    std::printf("  still screen, 1600 px at 15 fps: %zu frames in %.1f s %.2f%% of a core (target "
                "< 1%%): %s\n",
                arrivals.size() - before, double(wall.nsecsElapsed()) / 1e9, share,
                verdict(share < 1));
    streamer.stop();
    tjDestroy(decoder);
    probe.write("quit\n");
    probe.waitForFinished(3000);
    std::printf("load average at end %s\n", loadAverage().c_str());
    return 0;
}
