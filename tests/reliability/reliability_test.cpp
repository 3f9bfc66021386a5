// The server over loopback TCP on this thread's event loop, with phones on
// worker threads: a storm of hellos beside a pairing.
// Load, floods and memory are orvane-loadgen's, which the suite runs too.
#include "phone/phone_client.h"

#include "protocol/random.h"
#include "server/orvane_server.h"
#include "support/server_rig.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <thread>

namespace orvane::reliability {
namespace {

using phone::PairOutcome;
using phone::PhoneClient;

constexpr int ioTimeoutMs = 5'000;

template <class F> bool pumpUntil(F done, int timeoutMs)
{
    // Inside a running loop, as in the program, so that deferred deletions
    // happen when they would there.
    QEventLoop loop;
    QElapsedTimer timer;
    timer.start();
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done() || timer.elapsed() > timeoutMs)
            loop.quit();
    });
    if (done())
        return true;
    check.start(5);
    loop.exec();
    return done();
}

// Runs work(i) for each i < count on a thread of its own while this thread
// serves the event loop. Every client call has a time limit, so this ends.
template <class F> void runBeside(std::size_t count, F work)
{
    std::atomic<std::size_t> finished = 0;
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < count; ++i)
        threads.emplace_back([&, i] {
            work(i);
            ++finished;
        });
    pumpUntil([&] { return finished == count; }, INT_MAX);
    for (auto& thread : threads)
        thread.join();
}

TEST(Reliability, HelloStormLeavesThePendingPairingAlone)
{
    test::ServerRig rig{{}, /*realClock=*/true};
    OrvaneServer* server = rig.server.get();
    server->start();
    const quint16 port = server->port();
    ASSERT_NE(port, 0) << server->status().errorMessage().toStdString();
    PhoneClient pairing;
    pairing.setTimeout(ioTimeoutMs);
    const Uuid pairingID = makeUuid(systemRandom());
    runBeside(1, [&](std::size_t) {
        EXPECT_TRUE(pairing.connect("127.0.0.1", port, ioTimeoutMs).ok() &&
                    pairing.hello("Pairing phone", pairingID, false).ok());
    });
    ASSERT_TRUE(pumpUntil([&] { return server->status().hasPairingRequest(); }, ioTimeoutMs));
    const OrvaneServer::PairingRequest shown = *server->status().pairingRequest();

    // Strangers, phones claiming a token, and phones posing as the one that
    // is pairing; more of them than the server keeps waiting at once.
    constexpr int storm = 200;
    std::atomic<int> refused = 0;
    runBeside(4, [&](std::size_t thread) {
        for (int i = static_cast<int>(thread); i < storm; i += 4) {
            PhoneClient other;
            other.setTimeout(ioTimeoutMs);
            const Uuid id = i % 3 == 2 ? pairingID : makeUuid(systemRandom());
            if (other.connect("127.0.0.1", port, ioTimeoutMs) &&
                other.hello("Storm " + std::to_string(i), id, i % 3 == 1) &&
                other.pendingRejection(ioTimeoutMs))
                ++refused;
        }
    });
    EXPECT_EQ(refused, storm);
    ASSERT_TRUE(server->status().pairingRequest().has_value());
    EXPECT_TRUE(*server->status().pairingRequest() == shown);

    std::optional<PairOutcome> outcome;
    runBeside(1, [&](std::size_t) {
        if (auto paired = pairing.pairWithCode(shown.code.toStdString()))
            outcome = *paired;
    });
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(outcome->kind, PairOutcome::Kind::paired) << outcome->reason;
    EXPECT_EQ(server->devices().size(), 1u);
}

} // namespace
} // namespace orvane::reliability
