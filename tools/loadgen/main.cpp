// orvane-loadgen: puts a real `orvane --headless` under load and soak, and
// says once a second how it holds up: its memory, the worst stall of its
// event loop, answers lost and how long a phone waits to reconnect.
#include "flood.h"
#include "hostile.h"
#include "load.h"
#include "server_run.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>

using namespace orvane::loadgen;

namespace {

struct Limits {
    std::optional<double> rssGrowthMB, rssEndMB, stallMs, lost, reconnectP99Ms, driftPercent;
};

struct Options {
    std::string server;
    int seconds = 60;
    std::size_t flood = 1000;
    std::uint64_t hostile = 0;
    std::size_t relayRooms = 0;
    std::string relay;
    LoadPlan plan{32, 10'000, 2, true, true};
    Limits limits;
};

double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(share * double(values.size())))];
}

std::optional<double> number(const QCommandLineParser& parser, const QString& name)
{
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    return parser.isSet(name) && ok ? std::optional(value) : std::nullopt;
}

Options parse(const QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Puts orvane --headless under load and reports, once a second, its RSS, "
                       "the worst stall of its event loop, answers lost and reconnect p99. "
                       "Exits 1 when a --max limit is passed."));
    parser.addHelpOption();
    const std::pair<const char*, const char*> options[] = {
        {"server", "The orvane program (default: next to this one)."},
        {"seconds", "How long to run (default 60); hours for a soak."},
        {"flood", "Hostile sockets that never authenticate (default 1000)."},
        {"phones", "Trusted phones sending commands (default 32)."},
        {"commands", "Commands each phone sends (default 10000)."},
        {"viewers", "Screen viewers that never read (default 2; 0 without a display)."},
        {"hostile", "Connections that each send one malformed frame, and as many malformed "
                    "relay messages with --relay-rooms (default 0); with nothing else to do, the "
                    "run ends when they are all sent."},
        {"relay-rooms", "Trusted phones whose relay rooms stream garbage (default 0); starts "
                        "orvane-relay."},
        {"relay", "The orvane-relay program (default: next to this one)."},
        {"max-rss-growth-mb", "Fail when RSS grows more than this."},
        {"max-rss-end-mb", "Fail when RSS ends more than this above where it started."},
        {"max-stall-ms", "Fail when the event loop stalls longer than this."},
        {"max-lost", "Fail when more answers than this are lost."},
        {"max-reconnect-p99-ms", "Fail when the reconnect p99 is slower than this."},
        {"max-drift-percent", "Fail when RSS drifts more than this between the first sixth of "
                              "the run and its end."},
    };
    for (const auto& [name, help] : options)
        parser.addOption(
            {QString::fromLatin1(name), QString::fromLatin1(help), QStringLiteral("N")});
    parser.addOption({QStringLiteral("no-storm"), QStringLiteral("No storm of pairing hellos.")});
    parser.addOption({QStringLiteral("spread"),
                      QStringLiteral("Spread each phone's commands evenly over --seconds, as a "
                                     "soak does, instead of sending them as fast as they are "
                                     "answered.")});
    parser.process(app);
    Options o;
    o.server = parser.isSet("server")
                   ? parser.value("server").toStdString()
                   : (QCoreApplication::applicationDirPath() + "/orvane").toStdString();
    auto count = [&](const char* name, auto fallback) {
        return parser.isSet(name) ? decltype(fallback)(parser.value(name).toLongLong()) : fallback;
    };
    o.relay = parser.isSet("relay")
                  ? parser.value("relay").toStdString()
                  : (QCoreApplication::applicationDirPath() + "/orvane-relay").toStdString();
    o.hostile = count("hostile", o.hostile);
    o.relayRooms = count("relay-rooms", o.relayRooms);
    o.seconds = count("seconds", o.seconds);
    o.flood = count("flood", o.flood);
    o.plan.commandPhones = count("phones", o.plan.commandPhones);
    o.plan.commandsPerPhone = count("commands", o.plan.commandsPerPhone);
    o.plan.viewers = count("viewers", o.plan.viewers);
    o.plan.helloStorm = !parser.isSet("no-storm");
    if (parser.isSet("spread"))
        o.plan.spreadSeconds = int(o.seconds);
    o.limits = {number(parser, "max-rss-growth-mb"),    number(parser, "max-rss-end-mb"),
                number(parser, "max-stall-ms"),         number(parser, "max-lost"),
                number(parser, "max-reconnect-p99-ms"), number(parser, "max-drift-percent")};
    return o;
}

// Both ends of every flood socket may live on this machine.
void raiseFileLimit()
{
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
}

struct Totals {
    long startKiB = 0, peakKiB = 0, endKiB = 0, driftFromKiB = 0;
    long long worstStallMs = 0;
    std::vector<double> reconnects;
};

int verdict(const Options& o, const Totals& t, const Counters& c)
{
    const double growthMB = double(t.peakKiB - t.startKiB) / 1024;
    const double drift =
        t.driftFromKiB > 0 ? 100.0 * double(t.endKiB - t.driftFromKiB) / double(t.driftFromKiB) : 0;
    const double p99 = percentile(t.reconnects, 0.99);
    std::printf("orvane-loadgen: done: answers %llu, lost %llu, worst stall %lld ms, RSS %.1f MB "
                "-> peak %.1f MB -> end %.1f MB (growth %.1f MB, drift %+.1f%%), reconnect p99 "
                "%.1f ms over %zu, failed %llu\n",
                (unsigned long long)c.answered, (unsigned long long)c.lost, t.worstStallMs,
                t.startKiB / 1024.0, t.peakKiB / 1024.0, t.endKiB / 1024.0, growthMB, drift, p99,
                t.reconnects.size(), (unsigned long long)c.reconnectFailures);
    int failed = 0;
    auto check = [&](const std::optional<double>& limit, double value, const char* what) {
        if (limit && value > *limit) {
            std::printf("orvane-loadgen: over the limit: %s %.1f > %.1f\n", what, value, *limit);
            failed = 1;
        }
    };
    check(o.limits.rssGrowthMB, growthMB, "RSS growth (MB)");
    check(o.limits.rssEndMB, double(t.endKiB - t.startKiB) / 1024,
          "RSS at the end above the start (MB)");
    check(o.limits.stallMs, double(t.worstStallMs), "worst loop stall (ms)");
    check(o.limits.lost, double(c.lost), "answers lost");
    check(o.limits.reconnectP99Ms, p99, "reconnect p99 (ms)");
    check(o.limits.driftPercent, drift, "RSS drift (%)");
    return failed;
}

// Everything that presses on the server, for as long as it lives. The
// phones the load uses come first; the relay rooms take the last ones.
struct Pressure {
    Pressure(const Options& o, const ServerRun& server)
        : load(server.port(), server.phones(), o.plan)
    {
        if (o.flood > 0)
            flood.emplace(server.port(), o.flood);
        if (o.hostile > 0)
            hostile.emplace(server.port(), o.hostile);
        if (o.relayRooms > 0)
            relay.emplace(server.relayBase(),
                          std::vector<PhoneIdentity>(server.phones().end() - o.relayRooms,
                                                     server.phones().end()));
    }
    // A run of hostile frames alone ends when they are all sent, over TCP
    // and through the relay rooms.
    bool finished(const Options& o) const
    {
        return hostile && hostile->done() && o.plan.commandPhones == 0 && o.flood == 0 &&
               (!relay || relay->messagesSent() >= o.hostile);
    }

    std::optional<Flood> flood;
    std::optional<HostileFrames> hostile;
    std::optional<RelayGarbage> relay;
    Load load;
};

void report(int second, const ServerSample& s, Pressure& p, const std::vector<double>& reconnects)
{
    auto n = [](std::uint64_t value) { return static_cast<unsigned long long>(value); };
    std::printf("orvane-loadgen: %d s rss %.1f MB stall %lld ms connections %lld answers %llu "
                "lost %llu reconnect-p99 %.1f ms flood %llu/%llu hostile %llu relay %llu rooms "
                "%llu messages %llu MB\n",
                second, s.residentKiB / 1024.0, s.loopStallMs, s.connections,
                n(p.load.counters().answered), n(p.load.counters().lost),
                percentile(reconnects, 0.99), n(p.flood ? p.flood->opened() : 0),
                n(p.flood ? p.flood->closedByServer() : 0), n(p.hostile ? p.hostile->sent() : 0),
                n(p.relay ? p.relay->roomsJoined() : 0), n(p.relay ? p.relay->messagesSent() : 0),
                n(p.relay ? p.relay->bytesSent() >> 20 : 0));
    std::fflush(stdout);
}

std::string prepare(const Options& o, ServerRun& server)
{
    raiseFileLimit();
    if (o.relayRooms > 0)
        if (std::string failure = server.startRelay(o.relay); !failure.empty())
            return failure;
    return server.start({});
}

int run(const Options& o)
{
    const std::size_t phones = phonesNeeded(o.plan) + o.relayRooms;
    ServerRun server(o.server, phones, phones + 2);
    if (const std::string failure = prepare(o, server); !failure.empty()) {
        std::fprintf(stderr, "orvane-loadgen: %s\n", failure.c_str());
        return 2;
    }
    Totals t;
    t.startKiB = t.peakKiB = server.sample().residentKiB;
    std::printf("orvane-loadgen: orvane on port %u, RSS %.1f MB; %zu hostile sockets, %zu phones "
                "x %zu commands, %zu viewers, %llu hostile frames, %zu relay rooms%s\n",
                unsigned(server.port()), t.startKiB / 1024.0, o.flood, o.plan.commandPhones,
                o.plan.commandsPerPhone, o.plan.viewers, (unsigned long long)o.hostile,
                o.relayRooms, o.plan.helloStorm ? ", hello storm" : "");
    auto pressure = std::make_unique<Pressure>(o, server);
    for (int second = 1; second <= o.seconds && server.running() && !pressure->finished(o);
         ++second) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const ServerSample s = server.sample();
        const auto reconnects = pressure->load.counters().takeReconnects();
        t.reconnects.insert(t.reconnects.end(), reconnects.begin(), reconnects.end());
        t.peakKiB = std::max(t.peakKiB, s.residentKiB);
        t.endKiB = s.residentKiB;
        t.worstStallMs = std::max(t.worstStallMs, s.loopStallMs);
        if (second == std::max(1, o.seconds / 6))
            t.driftFromKiB = s.residentKiB;
        report(second, s, *pressure, reconnects);
    }
    if (!server.running()) {
        std::printf("orvane-loadgen: the server ended during the run\n");
        return 1;
    }
    if (o.hostile > 0) { // what the hostile frames left behind, once they are gone
        std::this_thread::sleep_for(std::chrono::seconds(2));
        t.endKiB = server.sample().residentKiB;
    }
    const int over = verdict(o, t, pressure->load.counters());
    pressure.reset(); // every worker gone before the server is asked to end
    if (const std::string failure = server.stop(); !failure.empty()) {
        std::printf("orvane-loadgen: %s\n", failure.c_str());
        return 1;
    }
    return over;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvane-loadgen"));
    return run(parse(app));
}
