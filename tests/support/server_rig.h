#pragma once

#include "fake_families.h"
#include "pump.h"
#include "test_phone.h"

#include "commands/command_set.h"
#include "platform/fake/fake_advertiser.h"
#include "platform/fake/fake_machine.h"
#include "platform/fake/fake_platform.h"
#include "platform/fake/fake_screen_capture.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orvane::test {

class RecordingPanel final : public PairingPanel {
public:
    void show() override { ++shows; }
    void hide() override { ++hides; }
    int shows = 0;
    int hides = 0;
};

// A server on fakes: no listener is started, phones come in over fake
// transports, settings and received files live in a temporary folder, and
// the steady clock is the test's own.
class ServerRig {
public:
    // With `realClock`, deadlines run on the steady clock (for tests over
    // real sockets); otherwise on clockMs, which the test moves.
    explicit ServerRig(ServerLimits limits = {}, bool realClock = false);
    virtual ~ServerRig();

    // A new server over the same settings file, as after a restart.
    void restart(ServerLimits limits = {});
    QString settingsPath() const { return dir.path() + QStringLiteral("/config/Orvane.conf"); }
    QString receivedFolder() const { return dir.path() + QStringLiteral("/Downloads/Orvane"); }

    std::unique_ptr<TestPhone> newPhone(std::string name = "Test Phone")
    {
        return std::make_unique<TestPhone>(*server, std::move(name));
    }
    // Pairs with the code the server shows and returns the token.
    std::string pair(TestPhone& phone);
    // A phone paired with the code, with what pairing sent it taken.
    std::unique_ptr<TestPhone> pairedPhone(std::string name = "Ada's phone");
    // A wrong code for the pairing shown.
    std::string wrongCode() const;
    // Seven wrong codes, two a connection, pause pairing.
    void pausePairing();

    QTemporaryDir dir;
    const bool realClock;
    qint64 clockMs = 1'000'000;
    bool accessibility = true;
    // Pairings start as often as the program allows, not as a test needs.
    bool strictPairingStarts = false;
    quint16 port = 0; // for a test that starts the listener
    QString relayUrl;
    RelayLinks::MakeTransport relayTransport;
    RelayLinks::Later relayRetry;
    FakeAdvertiser* advertiser = nullptr;
    FakeScreenCapture* screenCapture = nullptr; // owned by the server
    RecordingPanel panel;
    FakePlatform fakes;
    FakeMachine machine;
    FakeMedia* media = nullptr;
    FakeSystem* system = nullptr;
    FakeWindowCommands* windows = nullptr;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<MacInfoProvider> macInfo;
    std::unique_ptr<StatsProvider> stats;
    std::unique_ptr<CommandSet> commands;
    std::unique_ptr<OrvaneServer> server;
};

class ServerFixture : public ::testing::Test, public ServerRig {};

} // namespace orvane::test
