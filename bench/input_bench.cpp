// Remote input on the test display: a paired phone on loopback sends
// keyShortcut commands one at a time (the round trip bounds the time from
// the frame arriving to the key event posted), and bursts of 1,000 pointer
// moves. The baselines in the same run are a command that touches no display
// (a refused link) and a burst of messages the router ignores, so the
// difference is what input injection itself costs.
//
//   orvane_input_bench [--count N]     (default 2000 round trips)
#include "commands/command_set.h"
#include "phone/phone_client.h"
#include "platform/fake/fake_advertiser.h"
#include "platform/fake/fake_machine.h"
#include "platform/fake/fake_screen_capture.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/linux/x11/x11_pasteboard.h"
#include "protocol/random.h"
#include "server/orvane_server.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <thread>

namespace {

using namespace orvane;
using phone::PairOutcome;
using phone::PhoneClient;
using Clock = std::chrono::steady_clock;

constexpr int timeoutMs = 10'000;
constexpr double targetP50Us = 200;

double micros(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

struct Figures {
    std::vector<double> keyRoundTrips, plainRoundTrips;
    double moveBurstUs = 0, ignoredBurstUs = 0;
    std::string error;
};

// One round trip of `command`, in microseconds; negative on failure.
double roundTrip(PhoneClient& phone, const OrvaneCommand& command)
{
    auto start = Clock::now();
    auto id = phone.run(command);
    if (!id || !phone.waitForResult(*id, timeoutMs))
        return -1;
    return micros(Clock::now() - start);
}

// `count` messages back to back, then one command whose answer proves the
// server has handled all of them (it handles a connection's messages in order).
double burst(PhoneClient& phone, const OrvaneMessage& message, int count)
{
    const OrvaneCommand marker = command::OpenURL{{"x"}};
    auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        if (!phone.send(message))
            return -1;
    }
    return roundTrip(phone, marker) < 0 ? -1 : micros(Clock::now() - start);
}

void phoneSide(std::uint16_t port, std::future<std::string> code, int count, Figures& out)
{
    PhoneClient phone;
    phone.setTimeout(timeoutMs);
    if (!phone.connect("127.0.0.1", port, timeoutMs) ||
        !phone.hello("Bench phone", makeUuid(systemRandom()), false)) {
        out.error = "could not reach the server";
        return;
    }
    auto paired = phone.pairWithCode(code.get());
    if (!paired || paired->kind != PairOutcome::Kind::paired) {
        out.error = "pairing failed";
        return;
    }
    const OrvaneCommand key = command::PressShortcut{{KeyShortcut{KeyShortcut::Key::f, {}}}};
    const OrvaneCommand plain = command::OpenURL{{"x"}};
    for (int i = 0; i < count; ++i) {
        // Interleaved, so a noisy moment falls on both sides alike.
        out.keyRoundTrips.push_back(roundTrip(phone, key));
        out.plainRoundTrips.push_back(roundTrip(phone, plain));
    }
    out.moveBurstUs = burst(phone, msg::Pointer{{pointer::MoveBy{{1, 0}}}}, 1000);
    out.ignoredBurstUs = burst(phone, msg::PairingRequired{}, 1000);
}

} // namespace

int main(int argc, char** argv)
{
    int count = 2000;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--count") == 0)
            count = std::max(1, std::atoi(argv[i + 1]));
    }
    if (!x11DisplayReachable()) {
        std::printf("input bench: no X display reachable; nothing measured\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    QTemporaryDir home;

    // The real input backends under the real router; the rest of the
    // computer is not what this measures.
    Platform platform = makeLinuxPlatform(makeX11Pasteboard());
    Settings settings(home.path() + QStringLiteral("/Orvane.conf"));
    FakeMachine machine;
    MacInfoProvider macInfo(machine, {});
    StatsProvider stats(
        machine, [] { return std::vector<RunningApp>{}; }, [] { return std::int64_t{0}; });
    auto monotonicMs = [] { return QDeadlineTimer::current().deadline(); };
    CommandSet commands(platform, settings, macInfo, stats, monotonicMs);

    ServerEnvironment env;
    env.computerName = QStringLiteral("Bench");
    env.advertiser = std::make_unique<FakeAdvertiser>();
    env.settings = &settings;
    env.receivedFilesFolder = home.path();
    env.commands = &commands.dispatcher;
    env.queries = &commands.queries;
    env.pointer = &commands.pointer;
    env.userActivity = &commands.userActivity;
    env.monotonicMs = monotonicMs;
    env.accessibilityCheck = [&] { return commands.inputAvailable(); };
    env.screenCapture = std::make_unique<FakeScreenCapture>(); // nobody watches here
    OrvaneServer server(std::move(env));

    std::promise<std::string> code;
    QObject::connect(&server.status(), &ServerStatus::pairingRequestChanged, [&] {
        if (server.status().pairingRequest())
            code.set_value(server.status().pairingRequest()->code.toStdString());
    });
    Figures figures;
    std::thread phone;
    QObject::connect(&server, &OrvaneServer::listening, [&](quint16 port) {
        phone = std::thread([&, port] {
            phoneSide(port, code.get_future(), count, figures);
            QMetaObject::invokeMethod(&app, [] { QCoreApplication::quit(); });
        });
    });
    server.start();
    app.exec();
    phone.join();

    if (!figures.error.empty()) {
        std::printf("input bench: %s\n", figures.error.c_str());
        return 1;
    }
    double keyP50 = percentile(figures.keyRoundTrips, 0.5);
    double plainP50 = percentile(figures.plainRoundTrips, 0.5);
    std::printf("input bench (%d round trips each, loopback, X display %s)\n", count,
                qgetenv("DISPLAY").constData());
    std::printf(
        "  keyShortcut run -> result   p50 %7.1f us  p99 %7.1f us  (target p50 < %.0f us: %s)\n",
        keyP50, percentile(figures.keyRoundTrips, 0.99), targetP50Us,
        keyP50 < targetP50Us ? "met" : "MISSED");
    std::printf(
        "  baseline, refused link      p50 %7.1f us  p99 %7.1f us  (key press adds %.1f us)\n",
        plainP50, percentile(figures.plainRoundTrips, 0.99), keyP50 - plainP50);
    std::printf("  1,000 pointer moveBy        %8.0f us  = %.1f us per event\n",
                figures.moveBurstUs, figures.moveBurstUs / 1000);
    std::printf("  baseline, 1,000 ignored     %8.0f us  = %.1f us per message\n",
                figures.ignoredBurstUs, figures.ignoredBurstUs / 1000);
    return 0;
}
