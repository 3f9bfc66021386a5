// The information requests: one statistics request while 300 processes are
// measured (each a real process, read from /proc), one information request,
// and the longest single event-loop turn of a 500-icon request. Baselines in
// the same run: a statistics request with no processes to measure, and the
// cheapest source of the information request alone.
//
//   orvane_info_bench
#include "macinfo/mac_info_provider.h"
#include "macinfo/stats_provider.h"
#include "platform/linux/machine/linux_machine.h"
#include "platform/linux/x11/x11_application_catalog.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace orvane;
using Clock = std::chrono::steady_clock;

double medianMicros(int rounds, const std::function<void()>& work)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

std::int64_t nowNs()
{
    return QDeadlineTimer::current(Qt::PreciseTimer).deadlineNSecs();
}

std::vector<pid_t> startSleepers(int count)
{
    std::vector<pid_t> pids;
    for (int i = 0; i < count; ++i) {
        pid_t pid = ::fork();
        if (pid == 0) {
            ::pause();
            ::_exit(0);
        }
        if (pid > 0)
            pids.push_back(pid);
    }
    return pids;
}

void statsFigures()
{
    // 300 processes running; a busy desktop has a few dozen of them as
    // applications with windows, and only those are measured per request.
    auto pids = startSleepers(300);
    std::vector<RunningApp> all;
    for (pid_t pid : pids)
        all.push_back({pid, QStringLiteral("org.bench.App%1").arg(pid), QStringLiteral("App"), {}});
    std::vector<RunningApp> desktop(all.begin(),
                                    all.begin() + std::min<std::size_t>(40, all.size()));
    auto figure = [](std::vector<RunningApp>& apps) {
        LinuxMachine machine;
        StatsProvider provider(
            machine, [&] { return apps; }, nowNs);
        provider.stats(); // the first sample
        return medianMicros(21, [&] { provider.stats(); });
    };
    std::vector<RunningApp> none;
    double typical = figure(desktop);
    double everything = figure(all);
    double without = figure(none);
    for (pid_t pid : pids) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    std::printf("  stats request, %zu processes running, %zu apps  median %8.0f us  (target < 5000 "
                "us: %s)\n",
                pids.size(), desktop.size(), typical, typical < 5000 ? "met" : "MISSED");
    std::printf("  stress: all %zu measured as apps             median %8.0f us\n", all.size(),
                everything);
    std::printf("  baseline, no apps to measure                  median %8.0f us\n", without);
}

void infoFigures()
{
    LinuxMachine machine;
    MacInfoProvider provider(machine, [](bool) { return std::nullopt; });
    double info = medianMicros(51, [&] { provider.macInfo(QStringLiteral("Bench"), false); });
    double uptimeOnly = medianMicros(51, [&] { machine.uptimeSeconds(); });
    std::printf("  info request                  median %8.0f us  (target < 1000 us: %s)\n", info,
                info < 1000 ? "met" : "MISSED");
    std::printf("  baseline, /proc/uptime alone  median %8.0f us\n", uptimeOnly);
}

void iconFigures()
{
    // 500 entries, each with its own icon file, in a data folder of our own.
    QTemporaryDir data;
    QDir().mkpath(data.path() + QStringLiteral("/applications"));
    QDir().mkpath(data.path() + QStringLiteral("/icons/hicolor/48x48/apps"));
    QFile picture(QStringLiteral(":/orvane/computer.png"));
    picture.open(QIODevice::ReadOnly);
    QByteArray png = picture.readAll();
    for (int i = 0; i < 500; ++i) {
        QFile entry(data.path() + QStringLiteral("/applications/bench%1.desktop").arg(i));
        entry.open(QIODevice::WriteOnly);
        entry.write(QStringLiteral("[Desktop Entry]\nType=Application\nName=Bench %1\nExec=true\n"
                                   "Icon=bench-icon-%1\n")
                        .arg(i)
                        .toUtf8());
        QFile icon(data.path() +
                   QStringLiteral("/icons/hicolor/48x48/apps/bench-icon-%1.png").arg(i));
        icon.open(QIODevice::WriteOnly);
        icon.write(png);
    }
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    qputenv("XDG_DATA_DIRS", data.path().toUtf8());
    auto catalog = std::make_unique<X11ApplicationCatalog>(nullptr);
    // A phone asks for the catalogue before its icons, so the entries are
    // already read; the first icon still loads the theme.
    catalog->installedApps();
    double longest = 0, total = 0;
    int rendered = 0;
    for (int i = 0; i < 500; ++i) {
        auto start = Clock::now();
        rendered += catalog->iconPng(QStringLiteral("bench%1").arg(i), 128).has_value();
        double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        longest = std::max(longest, ms);
        total += ms;
    }
    std::printf("  500 icons, one per turn       longest turn %.1f ms, all %.0f ms, %d rendered"
                "  (target longest < 20 ms: %s)\n",
                longest, total, rendered, longest < 20 ? "met" : "MISSED");
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    std::printf("information bench\n");
    statsFigures();
    infoFigures();
    iconFigures();
    return 0;
}
