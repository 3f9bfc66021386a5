// What orvane-relay costs, on loopback, against a direct TCP connection in
// the same run:
// - the round trip of a command-sized message (200 bytes out, echoed back):
//   through a room it is forwarded twice, and the figure is what that adds
//   at p50;
// - the throughput of 150 KB frames from one member to the other, with the
//   relay's rate limits raised out of the way, so the forwarding itself is
//   measured. Beside it, the same two kinds of WebSocket end joined to each
//   other with no relay between them: no relay can carry more than its
//   members' own WebSocket code lets through, so that row is the ceiling,
//   and the gap between it and the relay is what the relay itself costs.
//   Each path is warmed up first (the first pass over fresh buffers pays for
//   page faults that later ones do not), then measured three times in turn;
//   the median counts;
// - the relay's resident memory holding 1,000 idle rooms with both members;
// - a member that floods "ping" and never reads, against a relay of its own
//   with the default limits: the relay's highest RSS over its RSS just before
//   (the answers are owed to the member and count against its 4 MB budget),
//   and that the member is closed. The same with WebSocket ping frames, which
//   Qt WebSockets answers by itself.
//
//   orvane_relay_bench [--count N] [--frames N]    (defaults 2000 and 2000)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>

#include <fcntl.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int frameBytes = 150 * 1024;
constexpr int roomCount = 1000;

bool runUntil(const std::function<bool()>& done, int timeoutMs = 10'000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// orvane-relay with its log in a file and `extra` options.
class Relay {
public:
    explicit Relay(const std::vector<std::string>& extra)
    {
        char pattern[] = "/tmp/orvane-relay-bench-XXXXXX";
        const int fd = ::mkstemp(pattern);
        if (fd >= 0)
            ::close(fd);
        m_log = pattern;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, m_log.c_str(), O_WRONLY, 0);
        std::vector<std::string> args = {ORVANE_RELAY_PATH, "--listen", "127.0.0.1:0"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        for (int i = 0; i < 500 && m_pid > 0 && m_port == 0; ++i) {
            std::ifstream log(m_log);
            std::string text((std::istreambuf_iterator<char>(log)), {});
            std::smatch match;
            if (std::regex_search(text, match, std::regex("listening on ws://[^:]+:(\\d+)")))
                m_port = std::stoi(match[1]);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~Relay()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        std::remove(m_log.c_str());
    }
    int port() const { return m_port; }
    double cpuSeconds() const
    {
        std::ifstream stat("/proc/" + std::to_string(m_pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        double ticks = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i)
            if (i >= 14) // utime and stime
                ticks += std::stod(field);
        return ticks / double(::sysconf(_SC_CLK_TCK));
    }
    long residentKiB() const
    {
        std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
        for (std::string key; status >> key;) {
            if (key == "VmRSS:") {
                long kib = -1;
                status >> kib;
                return kib;
            }
            status.ignore(1 << 20, '\n');
        }
        return -1;
    }
    QUrl room(int n, const char* role) const
    {
        char hex[65];
        std::snprintf(hex, sizeof hex, "%064x", n);
        return QUrl(QStringLiteral("ws://127.0.0.1:%1/v1/room/%2?role=%3")
                        .arg(m_port)
                        .arg(QLatin1String(hex), QLatin1String(role)));
    }

private:
    std::string m_log;
    pid_t m_pid = -1;
    int m_port = 0;
};

// One way of carrying messages between two ends: the relay's room, or TCP.
struct Pair {
    std::function<void(const QByteArray&)> send;       // from the phone's end
    std::function<void(const QByteArray&)> reply;      // from the computer's end
    std::function<void(const QByteArray&)> onComputer; // what reaches the computer
    std::function<void(qint64 bytes)> onPhone;         // bytes reaching the phone
    std::function<qint64()> unsent;                    // bytes the phone still has to write
};

// Both members of a room, each a QWebSocket; "peer:on" tells the computer
// the phone is there.
std::unique_ptr<Pair> relayPair(const Relay& relay, std::vector<std::unique_ptr<QWebSocket>>& keep)
{
    auto pair = std::make_unique<Pair>();
    auto* mac = keep.emplace_back(std::make_unique<QWebSocket>()).get();
    auto* phone = keep.emplace_back(std::make_unique<QWebSocket>()).get();
    for (QWebSocket* s : {mac, phone})
        s->setMaxAllowedIncomingMessageSize(1 << 20);
    auto peer = std::make_shared<bool>(false);
    QObject::connect(mac, &QWebSocket::textMessageReceived, [peer](const QString& text) {
        *peer = *peer || text == QLatin1String("peer:on");
    });
    QObject::connect(mac, &QWebSocket::binaryMessageReceived,
                     [p = pair.get()](const QByteArray& m) { p->onComputer(m); });
    QObject::connect(phone, &QWebSocket::binaryMessageReceived,
                     [p = pair.get()](const QByteArray& m) { p->onPhone(m.size()); });
    mac->open(relay.room(1'000'001, "mac"));
    phone->open(relay.room(1'000'001, "phone"));
    if (!runUntil([&] { return *peer && phone->state() == QAbstractSocket::ConnectedState; }))
        return nullptr;
    pair->send = [phone](const QByteArray& m) { phone->sendBinaryMessage(m); };
    pair->reply = [mac](const QByteArray& m) { mac->sendBinaryMessage(m); };
    pair->unsent = [phone] { return phone->bytesToWrite(); };
    return pair;
}

// The same two kinds of end as through a room, the computer's end accepted
// by a WebSocket server in this process: a room with nothing in between.
std::unique_ptr<Pair> webSocketPair(QWebSocketServer& server,
                                    std::vector<std::unique_ptr<QWebSocket>>& keep)
{
    auto pair = std::make_unique<Pair>();
    server.listen(QHostAddress::LocalHost, 0);
    auto* phone = keep.emplace_back(std::make_unique<QWebSocket>()).get();
    phone->open(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(server.serverPort())));
    if (!runUntil([&] {
            return server.hasPendingConnections() &&
                   phone->state() == QAbstractSocket::ConnectedState;
        }))
        return nullptr;
    QWebSocket* mac = keep.emplace_back(server.nextPendingConnection()).get();
    mac->setMaxAllowedIncomingMessageSize(1 << 20);
    QObject::connect(mac, &QWebSocket::binaryMessageReceived,
                     [p = pair.get()](const QByteArray& m) { p->onComputer(m); });
    pair->send = [phone](const QByteArray& m) { phone->sendBinaryMessage(m); };
    pair->unsent = [phone] { return phone->bytesToWrite(); };
    return pair;
}

std::unique_ptr<Pair> tcpPair(QTcpServer& server, std::vector<std::unique_ptr<QTcpSocket>>& keep)
{
    auto pair = std::make_unique<Pair>();
    server.listen(QHostAddress::LocalHost, 0);
    auto* phone = keep.emplace_back(std::make_unique<QTcpSocket>()).get();
    phone->connectToHost(QHostAddress::LocalHost, server.serverPort());
    if (!runUntil([&] { return server.hasPendingConnections(); }))
        return nullptr;
    QTcpSocket* mac = server.nextPendingConnection();
    for (QTcpSocket* s : {mac, phone})
        s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // Messages of known size: the computer gathers each whole.
    auto pending = std::make_shared<QByteArray>();
    auto expected = std::make_shared<int>(0);
    QObject::connect(mac, &QTcpSocket::readyRead, [=, p = pair.get()] {
        *pending += mac->readAll();
        while (*expected > 0 && pending->size() >= *expected) {
            p->onComputer(pending->left(*expected));
            pending->remove(0, *expected);
        }
    });
    QObject::connect(phone, &QTcpSocket::readyRead,
                     [phone, p = pair.get()] { p->onPhone(phone->readAll().size()); });
    pair->send = [phone, expected](const QByteArray& m) {
        *expected = int(m.size());
        phone->write(m);
    };
    pair->reply = [mac](const QByteArray& m) { mac->write(m); };
    pair->unsent = [phone] { return phone->bytesToWrite(); };
    return pair;
}

double percentile(std::vector<double> ms, double p)
{
    std::sort(ms.begin(), ms.end());
    return ms.empty() ? 0 : ms[std::min(ms.size() - 1, std::size_t(p / 100 * double(ms.size())))];
}

// Round trips of a 200-byte message, echoed by the computer's end.
std::vector<double> roundTrips(Pair& pair, int count)
{
    const QByteArray message(200, 'c');
    qint64 back = 0;
    pair.onComputer = [&](const QByteArray& m) { pair.reply(m); };
    pair.onPhone = [&](qint64 bytes) { back += bytes; };
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        back = 0;
        QElapsedTimer timer;
        timer.start();
        pair.send(message);
        if (!runUntil([&] { return back >= message.size(); }))
            break;
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    return ms;
}

// MB/s of `frames` frames of 150 KB from the phone's end to the computer's,
// keeping a few on their way.
double throughput(Pair& pair, int frames)
{
    const QByteArray frame(frameBytes, 'f');
    int arrived = 0;
    pair.onComputer = [&](const QByteArray&) { ++arrived; };
    pair.onPhone = [](qint64) {};
    QElapsedTimer timer;
    timer.start();
    int sent = 0;
    runUntil(
        [&] {
            while (sent < frames && sent - arrived < 32 && pair.unsent() < 16 * frameBytes) {
                pair.send(frame);
                ++sent;
            }
            return arrived >= frames;
        },
        120'000);
    return double(arrived) * frameBytes / (double(timer.nsecsElapsed()) / 1e9) / 1e6;
}

// Both members of `roomCount` rooms, opened a hundred at a time (the relay
// takes only so many handshakes at once); the relay's RSS while they idle.
long idleRoomsKiB(const Relay& relay, int* connected)
{
    std::vector<std::unique_ptr<QWebSocket>> members;
    *connected = 0;
    for (int room = 0; room < roomCount; room += 50) {
        for (int n = room; n < room + 50; ++n)
            for (const char* role : {"mac", "phone"}) {
                auto& s = members.emplace_back(std::make_unique<QWebSocket>());
                QObject::connect(s.get(), &QWebSocket::connected, [connected] { ++*connected; });
                s->open(relay.room(n, role));
            }
        runUntil([&] { return *connected >= 2 * (room + 50); }, 20'000);
    }
    runUntil([] { return false; }, 1000); // settled
    return relay.residentKiB();
}

struct Flood {
    long beforeKiB = -1, peakKiB = -1;
    qint64 pings = 0;
    double seconds = 0; // until the member saw its connection end
    bool closed = false;
};

// One member floods the relay with pings and never reads; the relay's RSS
// is sampled until the member's connection ends, and for the 2 seconds a
// closed member is given after that.
Flood pingFlood(const Relay& relay, bool webSocketPings)
{
    QWebSocket flooder;
    Flood flood;
    QObject::connect(&flooder, &QWebSocket::disconnected, [&] { flood.closed = true; });
    flooder.open(relay.room(7, "mac"));
    if (!runUntil([&] { return flooder.state() == QAbstractSocket::ConnectedState; }))
        return flood;
    flooder.setReadBufferSize(1);        // it takes one byte, then nothing more
    runUntil([] { return false; }, 500); // settled
    flood.beforeKiB = flood.peakKiB = relay.residentKiB();
    const QByteArray payload(125, 'p');
    QElapsedTimer timer;
    timer.start();
    runUntil(
        [&] {
            for (int i = 0; i < 2000 && flooder.bytesToWrite() < (1 << 20); ++i, ++flood.pings) {
                if (webSocketPings)
                    flooder.ping(payload);
                else
                    flooder.sendTextMessage(QStringLiteral("ping"));
            }
            flood.peakKiB = std::max(flood.peakKiB, relay.residentKiB());
            return flood.closed;
        },
        120'000);
    flood.seconds = double(timer.nsecsElapsed()) / 1e9;
    runUntil(
        [&] {
            flood.peakKiB = std::max(flood.peakKiB, relay.residentKiB());
            return false;
        },
        2500);
    return flood;
}

void printFlood(const char* what, const Flood& flood)
{
    const double grown = double(flood.peakKiB - flood.beforeKiB) / 1024;
    std::printf("relay %s flood: RSS %.1f MB before, peak %.1f MB (+%.1f MB, target < +8 MB), "
                "%lld pings in %.1f s, member %s: %s\n",
                what, double(flood.beforeKiB) / 1024, double(flood.peakKiB) / 1024, grown,
                static_cast<long long>(flood.pings), flood.seconds,
                flood.closed ? "closed" : "NOT closed",
                flood.closed && flood.beforeKiB > 0 && grown < 8 ? "met" : "MISSED");
}

} // namespace

int main(int argc, char** argv)
{
    int count = 2000, frames = 2000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--count") == 0)
            count = std::max(10, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--frames") == 0)
            frames = std::max(10, std::atoi(argv[i + 1]));
    }
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    QCoreApplication app(argc, argv);
    // Rates out of the way, so the figures show the forwarding; one room more
    // than the idle ones (the pair that is timed), all from loopback.
    const std::string rooms = std::to_string(roomCount + 1);
    Relay relay({"--room-rate", "100G", "--global-rate", "100G", "--max-buffered", "16M",
                 "--max-buffered-total", "4G", "--max-rooms", rooms, "--max-rooms-per-address",
                 rooms, "--max-pending-per-address", "128"});
    if (relay.port() == 0) {
        std::fprintf(stderr, "orvane_relay_bench: cannot start %s\n", ORVANE_RELAY_PATH);
        return 1;
    }
    std::vector<std::unique_ptr<QWebSocket>> sockets;
    std::vector<std::unique_ptr<QTcpSocket>> tcpSockets;
    QTcpServer server;
    QWebSocketServer webSocketServer(QStringLiteral("bench"), QWebSocketServer::NonSecureMode);
    auto viaRelay = relayPair(relay, sockets);
    auto direct = tcpPair(server, tcpSockets);
    auto joined = webSocketPair(webSocketServer, sockets);
    if (!viaRelay || !direct || !joined) {
        std::fprintf(stderr, "orvane_relay_bench: the two ends never met\n");
        return 1;
    }
    std::printf("orvane relay benchmark, loopback, %u cores\n\n",
                std::thread::hardware_concurrency());
    roundTrips(*viaRelay, count / 10); // warm-up
    roundTrips(*direct, count / 10);
    const auto relayMs = roundTrips(*viaRelay, count), directMs = roundTrips(*direct, count);
    const double added = percentile(relayMs, 50) - percentile(directMs, 50);
    std::printf("round trip of 200 bytes, %d each      p50 ms   p90 ms\n", count);
    std::printf("  direct TCP                         %7.3f  %7.3f\n", percentile(directMs, 50),
                percentile(directMs, 90));
    std::printf("  through orvane-relay               %7.3f  %7.3f\n", percentile(relayMs, 50),
                percentile(relayMs, 90));
    std::printf("  added at p50 %.3f ms (target <= 1 ms): %s\n\n", added,
                added <= 1 ? "met" : "MISSED");

    // Warmed up, then each path in turn, three times over; the relay's CPU
    // and this process's are taken over the relay's passes.
    for (Pair* path : {direct.get(), joined.get(), viaRelay.get()})
        throughput(*path, std::max(10, frames / 4));
    std::vector<double> directMBs, joinedMBs, relayMBs;
    double relayCpu = 0, ownCpu = 0, seconds = 0;
    for (int pass = 0; pass < 3; ++pass) {
        directMBs.push_back(throughput(*direct, frames));
        joinedMBs.push_back(throughput(*joined, frames));
        const double relayBefore = relay.cpuSeconds();
        const double ownBefore = double(std::clock()) / CLOCKS_PER_SEC;
        QElapsedTimer wall;
        wall.start();
        relayMBs.push_back(throughput(*viaRelay, frames));
        seconds += double(wall.nsecsElapsed()) / 1e9;
        relayCpu += relay.cpuSeconds() - relayBefore;
        ownCpu += double(std::clock()) / CLOCKS_PER_SEC - ownBefore;
    }
    const double tcp = percentile(directMBs, 50), ceiling = percentile(joinedMBs, 50),
                 relayed = percentile(relayMBs, 50);
    const double share = tcp > 0 ? relayed / tcp * 100 : 0;
    std::printf("throughput of %d frames of 150 KB, median of 3 passes\n", frames);
    std::printf("  direct TCP %.0f MB/s, through orvane-relay %.0f MB/s: %.0f%% (target >= 80%%): "
                "%s; WebSocket ends joined with no relay %.0f MB/s (%.0f%% of direct TCP), of "
                "which the relay carries %.0f%%\n",
                tcp, relayed, share, share >= 80 ? "met" : "MISSED", ceiling,
                tcp > 0 ? ceiling / tcp * 100 : 0, ceiling > 0 ? relayed / ceiling * 100 : 0);
    std::printf(
        "  CPU while relaying: orvane-relay %.0f%% of a core, the two members here %.0f%%\n\n",
        relayCpu / seconds * 100, ownCpu / seconds * 100);

    const long before = relay.residentKiB();
    int connected = 0;
    const long idleKiB = idleRoomsKiB(relay, &connected);
    std::printf("relay RSS: %.1f MB before, %.1f MB with %d members in %d idle rooms "
                "(target < 100 MB): %s\n",
                double(before) / 1024, double(idleKiB) / 1024, connected, roomCount,
                connected == 2 * roomCount && idleKiB < 100 * 1024 ? "met" : "MISSED");

    for (const bool webSocketPings : {false, true}) {
        Relay fresh({});
        printFlood(webSocketPings ? "WebSocket ping" : "ping", pingFlood(fresh, webSocketPings));
    }
    return 0;
}
