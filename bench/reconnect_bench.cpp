// How fast a paired phone gets back in: the real server binary in a
// throwaway HOME, one client reconnecting over loopback again and again (TCP
// connect, hello, keyExchange, authenticate, welcome, close). Two baselines
// from the same run show what part of that is TCP alone and what part is the
// client's own key agreement.
//
//   orvane_reconnect_bench [--count N]     (default 2000)
#include "server_process.h"

#include "phone/phone_client.h"

#include "protocol/random.h"
#include "protocol/secure_session.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace {

using namespace orvane;
using bench::Clock;
using bench::Server;

constexpr int timeoutMs = 10'000;
constexpr double targetP50Ms = 0.5;
constexpr double targetPerSecond = 2000;

struct Figures {
    std::vector<double> ms; // one per operation
    double seconds = 0;     // the whole loop

    double percentile(double p) const
    {
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        auto rank = static_cast<std::size_t>(p / 100 * static_cast<double>(sorted.size()) + 0.999);
        return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
    }
    // Back to back, one at a time: the rate the operation alone allows.
    double perSecond() const
    {
        double total = 0;
        for (double each : ms)
            total += each;
        return static_cast<double>(ms.size()) * 1000 / total;
    }
    // Over the whole loop, gaps between operations included.
    double wallPerSecond() const { return static_cast<double>(ms.size()) / seconds; }
};

double milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

// Times `operation` `count` times; false from it stops the run.
Figures measure(int count, const std::function<bool()>& operation)
{
    Figures figures;
    const auto begun = Clock::now();
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        if (!operation())
            break;
        figures.ms.push_back(milliseconds(Clock::now() - start));
    }
    figures.seconds = std::chrono::duration<double>(Clock::now() - begun).count();
    return figures;
}

double processCpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

int fail(const std::string& why)
{
    std::fprintf(stderr, "orvane_reconnect_bench: %s\n", why.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    int count = 2000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--count") == 0 && i + 1 < argc)
            count = std::atoi(argv[++i]);
        else
            return fail("usage: orvane_reconnect_bench [--count N]");
    }
    if (count < 1)
        return fail("--count takes a positive number");
    ::signal(SIGPIPE, SIG_IGN);

    Server server;
    if (!server.started())
        return fail(std::string("cannot start ") + ORVANE_SERVER_PATH);
    const std::string portText =
        server.waitForLine(std::regex("^orvane: listening on port (\\d+)"));
    if (portText.empty())
        return fail("the server never said it was listening");
    const auto port = static_cast<std::uint16_t>(std::stoi(portText));

    phone::PhoneClient client;
    client.setTimeout(timeoutMs);
    const Uuid deviceID = makeUuid(systemRandom());
    if (!client.connect("127.0.0.1", port, timeoutMs) || !client.hello("Bench", deviceID, false))
        return fail("no key exchange for pairing");
    const std::string code =
        server.waitForLine(std::regex("^orvane: pairing request from \"Bench\" code (\\d{6})$"));
    auto paired = client.pairWithCode(code);
    if (!paired || paired->kind != phone::PairOutcome::Kind::paired)
        return fail("pairing failed");
    const std::string token = paired->token;
    client.close();

    // One reconnect, with the time each step took: connect, hello until
    // keyExchange, authenticate until welcome, close.
    std::string failure;
    std::array<Figures, 4> steps;
    auto reconnect = [&] {
        std::array<Clock::time_point, 5> at;
        at[0] = Clock::now();
        auto connected = client.connect("127.0.0.1", port, timeoutMs);
        at[1] = Clock::now();
        auto exchange = connected ? client.hello("Bench", deviceID, true)
                                  : Result<msg::KeyExchange>(connected.error());
        at[2] = Clock::now();
        auto outcome =
            exchange ? client.reconnect(token) : Result<phone::ReconnectOutcome>(exchange.error());
        at[3] = Clock::now();
        client.close();
        at[4] = Clock::now();
        for (std::size_t i = 0; i < steps.size(); ++i)
            steps[i].ms.push_back(milliseconds(at[i + 1] - at[i]));
        if (!outcome || outcome->kind != phone::ReconnectOutcome::Kind::connected)
            failure = outcome ? "asked to pair again" : outcome.error().message;
        return failure.empty();
    };
    // Each bare connection is followed by an untimed reconnect, so the server
    // has taken it from the accept queue before the next one comes: a bare
    // loop outruns the server's accepts, and once the kernel's queue is full
    // every dropped SYN costs a one-second retransmit.
    phone::TcpStream stream;
    auto bareConnect = [&] {
        auto connected = stream.connect("127.0.0.1", port, timeoutMs);
        stream.close();
        if (!connected)
            failure = connected.error().message;
        return connected.ok();
    };
    // The client's share of the key agreement for one reconnect, as the
    // client does it: a fresh key pair, then the session (X25519 with the
    // computer's key and the HKDF of both keys) from the token's salt.
    const auto macKeys = crypto::x25519KeyPair(makeKey(systemRandom()));
    const Bytes macPublicKey(macKeys->publicKey.begin(), macKeys->publicKey.end());
    auto clientCrypto = [&] {
        auto keys = crypto::x25519KeyPair(makeKey(systemRandom()));
        const auto salt = reconnectSalt(hexDigest(token));
        return keys && SecureSession::create(SessionSide::phone, keys->privateKey, macPublicKey,
                                             salt) != nullptr;
    };

    measure(std::max(count / 10, 20), reconnect); // warm-up: caches, allocator, branch predictors
    for (auto& step : steps)
        step.ms.clear();
    const double serverCpuBefore = server.cpuSeconds();
    const double clientCpuBefore = processCpuSeconds();
    const Figures reconnects = measure(count, reconnect);
    const double serverCpuMs = (server.cpuSeconds() - serverCpuBefore) * 1000 / count;
    const double clientCpuMs = (processCpuSeconds() - clientCpuBefore) * 1000 / count;
    const auto reconnectSteps = steps;
    Figures bare;
    for (int i = 0; i < count && failure.empty(); ++i) {
        Figures one = measure(1, bareConnect);
        bare.ms.insert(bare.ms.end(), one.ms.begin(), one.ms.end());
        reconnect();
    }
    const Figures crypto = measure(count, clientCrypto);
    if (!failure.empty() || static_cast<int>(reconnects.ms.size()) < count ||
        static_cast<int>(bare.ms.size()) < count || static_cast<int>(crypto.ms.size()) < count)
        return fail("a run stopped early: " + failure);

    std::printf("orvane reconnect benchmark: %d of each, one client, loopback\n\n", count);
    std::printf("%-36s %8s %8s %8s %11s\n", "", "p50 ms", "p90 ms", "p99 ms", "per second");
    const std::pair<const char*, const Figures*> rows[] = {
        {"reconnect: connect ... welcome", &reconnects},
        {"  step: TCP connect", &reconnectSteps[0]},
        {"  step: hello -> keyExchange", &reconnectSteps[1]},
        {"  step: authenticate -> welcome", &reconnectSteps[2]},
        {"  step: close", &reconnectSteps[3]},
        {"baseline: bare TCP connect+close", &bare},
        {"baseline: client crypto", &crypto}};
    for (const auto& [name, figures] : rows)
        std::printf("%-36s %8.3f %8.3f %8.3f %11.0f\n", name, figures->percentile(50),
                    figures->percentile(90), figures->percentile(99), figures->perSecond());
    // Both include the kernel's loopback TCP work, and they overlap in time.
    std::printf("\nCPU per reconnect (user + system): client %.3f ms, server %.3f ms\n",
                clientCpuMs, serverCpuMs);
    const double p50 = reconnects.percentile(50);
    const double rate = reconnects.wallPerSecond();
    std::printf("reconnect p50 %.3f ms, target under %.1f ms: %s\n", p50, targetP50Ms,
                p50 < targetP50Ms ? "met" : "MISSED");
    std::printf("reconnects per second %.0f, target over %.0f: %s\n", rate, targetPerSecond,
                rate > targetPerSecond ? "met" : "MISSED");
    return 0;
}
