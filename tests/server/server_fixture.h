#pragma once

#include "test_phone.h"

#include "platform/fake/fake_advertiser.h"
#include "platform/fake/fake_machine.h"
#include "fake_families.h"
#include "platform/fake/fake_platform.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orvane::test {

// Runs the event loop until `done` holds or the time is up.
template <class F>
bool pumpUntil(F done, int timeoutMs = 2000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

inline void pumpFor(int ms)
{
    pumpUntil([] { return false; }, ms);
}

class RecordingPanel final : public PairingPanel {
public:
    void show() override { ++shows; }
    void hide() override { ++hides; }
    int shows = 0;
    int hides = 0;
};

// A server on fakes: no listener is started, phones come in over fake
// transports, settings and downloads live in a temporary folder, and the
// steady clock is the test's.
class ServerFixture : public ::testing::Test {
protected:
    void SetUp() override { makeServer(); }

    void makeServer(ServerLimits limits = {})
    {
        server.reset();
        ServerEnvironment env;
        env.macName = QStringLiteral("Desk");
        auto advertiser = std::make_unique<FakeAdvertiser>();
        env.advertiser = std::move(advertiser);
        env.defaults = std::make_unique<UserDefaults>(settingsPath());
        env.monotonicMs = [this] { return clockMs; };
        env.receivedFilesFolder = dir.path() + QStringLiteral("/Downloads/Orvane");
        env.limits = limits;
        CommandEnvironment commandEnv;
        commandEnv.platform = &fakes.platform;
        commandEnv.monotonicMs = [this] { return clockMs; };
        auto mediaFamily = std::make_unique<FakeMedia>();
        auto systemFamily = std::make_unique<FakeSystem>();
        auto windowFamily = std::make_unique<FakeWindows>();
        media = mediaFamily.get();
        system = systemFamily.get();
        windows = windowFamily.get();
        commandEnv.media = std::move(mediaFamily);
        commandEnv.system = std::move(systemFamily);
        commandEnv.windows = std::move(windowFamily);
        commands = std::make_unique<CommandDispatcher>(std::move(commandEnv));
        env.commands = commands.get();
        env.accessibilityCheck = [this] { return accessibility; };
        env.screenRecordingCheck = [this] { return accessibility; };
        macInfo = std::make_unique<MacInfoProvider>(
            machine, [](bool) -> std::optional<Bytes> { return Bytes{1, 2, 3}; });
        env.macInfo = macInfo.get();
        stats = std::make_unique<StatsProvider>(
            machine, [this] { return fakes.applications->running; },
            [this] { return clockMs * 1'000'000; });
        env.stats = stats.get();
        env.workspaceEvents = fakes.events;
        server = std::make_unique<OrvaneServer>(std::move(env));
        server->setPairingPanel(&panel);
    }

    QString settingsPath() const { return dir.path() + QStringLiteral("/config/Orvane/Orvane.conf"); }

    std::unique_ptr<TestPhone> newPhone(std::string name = "Test Phone")
    {
        return std::make_unique<TestPhone>(*server, systemRandom(), std::move(name));
    }

    // Pairs a phone with the code shown and returns the token it received.
    std::string pair(TestPhone& phone)
    {
        phone.sendHello(false);
        phone.takeReceived();
        const auto& request = server->pairingRequest();
        EXPECT_TRUE(request.has_value());
        if (!request)
            return {};
        phone.useCode(request->code.toStdString());
        phone.sendSealed(msg::Authenticate{});
        // What follows the welcome comes on the next turn of the event loop.
        QCoreApplication::processEvents();
        for (const auto& received : phone.takeReceived())
            if (auto* paired = std::get_if<msg::Paired>(&received.message))
                return paired->value;
        ADD_FAILURE() << "no paired message";
        return {};
    }

    // A phone paired with the code, with what pairing sent it taken.
    std::unique_ptr<TestPhone> pairedPhone(std::string name = "Ada's phone")
    {
        auto phone = newPhone(std::move(name));
        pair(*phone);
        phone->takeReceived();
        return phone;
    }

    QTemporaryDir dir;
    qint64 clockMs = 1'000'000;
    RecordingPanel panel;
    FakePlatform fakes;
    FakeMedia* media = nullptr;
    FakeSystem* system = nullptr;
    FakeWindows* windows = nullptr;
    bool accessibility = true;
    FakeMachine machine;
    std::unique_ptr<MacInfoProvider> macInfo;
    std::unique_ptr<StatsProvider> stats;
    std::unique_ptr<CommandDispatcher> commands;
    std::unique_ptr<OrvaneServer> server;
};

template <class M>
bool contains(const std::vector<TestPhone::Received>& received, bool sealed)
{
    for (const auto& r : received)
        if (std::holds_alternative<M>(r.message) && r.sealed == sealed)
            return true;
    return false;
}

template <class M>
std::optional<M> find(const std::vector<TestPhone::Received>& received)
{
    for (const auto& r : received)
        if (auto* m = std::get_if<M>(&r.message))
            return *m;
    return std::nullopt;
}

} // namespace orvane::test
