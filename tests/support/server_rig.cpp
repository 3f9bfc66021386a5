#include "server_rig.h"

#include "server/relay_transport.h"

#include <QDeadlineTimer>

namespace orvane::test {

ServerRig::ServerRig(ServerLimits limits, bool realClock) : realClock(realClock)
{
    restart(limits);
}

ServerRig::~ServerRig()
{
    if (server)
        server->setPairingPanel(nullptr);
}

void ServerRig::restart(ServerLimits limits)
{
    server.reset();
    commands.reset();
    settings = std::make_unique<Settings>(settingsPath());
    macInfo = std::make_unique<MacInfoProvider>(machine, [](bool) -> std::optional<Bytes> {
        return Bytes{1, 2, 3};
    });
    stats = std::make_unique<StatsProvider>(
        machine, [this] { return fakes.applications->running; },
        [this] { return clockMs * 1'000'000; });
    CommandSet::Overrides overrides;
    overrides.media = std::make_unique<FakeMedia>();
    overrides.system = std::make_unique<FakeSystem>();
    overrides.windows = std::make_unique<FakeWindowCommands>();
    media = static_cast<FakeMedia*>(overrides.media.get());
    system = static_cast<FakeSystem*>(overrides.system.get());
    windows = static_cast<FakeWindowCommands*>(overrides.windows.get());
    std::function<qint64()> clock = [this] { return clockMs; };
    if (realClock)
        clock = [] { return QDeadlineTimer::current().deadline(); };
    commands = std::make_unique<CommandSet>(fakes.platform, *settings, *macInfo, *stats, clock,
                                            std::move(overrides));
    ServerEnvironment env;
    env.computerName = QStringLiteral("Desk");
    auto fakeAdvertiser = std::make_unique<FakeAdvertiser>();
    advertiser = fakeAdvertiser.get();
    env.advertiser = std::move(fakeAdvertiser);
    env.port = port;
    env.settings = settings.get();
    env.commands = &commands->dispatcher;
    env.queries = &commands->queries;
    env.pointer = &commands->pointer;
    env.userActivity = &commands->userActivity;
    env.workspaceEvents = fakes.events;
    env.accessibilityCheck = [this] { return accessibility; };
    env.screenRecordingCheck = [this] { return accessibility; };
    env.monotonicMs = clock;
    env.receivedFilesFolder = receivedFolder();
    if (!strictPairingStarts) {
        // A test pairs phones one right after another.
        limits.pairingStartSpacingMs = 0;
        limits.pairingStartsPerMinute = 1000;
    }
    env.limits = limits;
    env.relayUrl = relayUrl;
    env.relayTransport = relayTransport;
    if (!env.relayTransport) // the program's own, without a private authority
        env.relayTransport = [](const QUrl& url) {
            return TransportPtr(new RelayTransport(url, RelayTransport::sslConfiguration({})));
        };
    env.relayRetry = relayRetry;
    auto capture = std::make_unique<FakeScreenCapture>();
    screenCapture = capture.get();
    env.screenCapture = std::move(capture);
    server = std::make_unique<OrvaneServer>(std::move(env));
    server->setPairingPanel(&panel);
}

std::string ServerRig::wrongCode() const
{
    const auto& request = server->status().pairingRequest();
    return request && request->code == "000000" ? "000001" : "000000";
}

void ServerRig::pausePairing()
{
    for (int round = 0; round < 4; ++round) {
        auto phone = newPhone("Mallory's phone");
        phone->hello(false);
        phone->takeReceived();
        for (int guess = 0; guess < 2 && server->status().pairingRequest(); ++guess) {
            phone->typeCode(wrongCode());
            phone->takeReceived();
        }
        phone->transport().callbacks.onState(TransportState::cancelled);
        settle();
    }
    EXPECT_TRUE(server->status().pairingPaused());
}

std::string ServerRig::pair(TestPhone& phone)
{
    phone.hello(false);
    const auto& request = server->status().pairingRequest();
    EXPECT_TRUE(request.has_value());
    if (!request)
        return {};
    phone.typeCode(request->code.toStdString());
    phone.takeReceived();
    EXPECT_TRUE(phone.handshake().token()) << "no paired message";
    return phone.handshake().token().value_or("");
}

std::unique_ptr<TestPhone> ServerRig::pairedPhone(std::string name)
{
    auto phone = newPhone(std::move(name));
    pair(*phone);
    phone->takeReceived();
    return phone;
}

} // namespace orvane::test
