// The reference phone against the real server binary, over loopback TCP.
#include "e2e_fixture.h"

#include "platform/linux/machine/host_name.h"

#include <csignal>
#include <cstring>
#include <thread>

namespace orvane::phone {
namespace {

TEST_F(EndToEnd, CodePairingIssuesATokenThatReconnects)
{
    const Uuid id = makeUuid(systemRandom());
    std::string token;
    auto first = pairedPhone(id, &token);
    ASSERT_TRUE(first->welcome().has_value());
    EXPECT_EQ(token.size(), 44u);
    first->close();

    auto again = phoneSaysHello(id, true);
    auto outcome = again->reconnect(token);
    ASSERT_TRUE(outcome.ok()) << outcome.error().message;
    EXPECT_EQ(outcome->kind, ReconnectOutcome::Kind::connected);
    EXPECT_EQ(outcome->welcome.macName, first->welcome()->macName);
}

TEST_F(EndToEnd, QrUrlTheServerShowsPairs)
{
    auto phone = phoneSaysHello(makeUuid(systemRandom()), false);
    expectOutcome(phone->pairWithQrUrl(nextPairingUrl()), PairOutcome::Kind::paired);
}

TEST_F(EndToEnd, FilesLandInDownloadsOrvaneUnderFreeNames)
{
    auto phone = pairedPhone(makeUuid(systemRandom()));
    const fs::path folder = m_home / "Downloads" / "Orvane";
    const std::pair<std::string, std::string> sends[] = {
        {"notes.txt", "first"}, {"notes.txt", "second"}, {"a/b:c.txt", ""}};
    for (const auto& [name, contents] : sends) {
        auto id = phone->sendFile(asBytes(contents), name);
        ASSERT_TRUE(id.ok()) << id.error().message;
        auto result = phone->waitForResult(*id, timeoutMs);
        ASSERT_TRUE(result.ok()) << result.error().message;
        EXPECT_TRUE(result->success);
        EXPECT_EQ(result->message, "Saved to Downloads \u203a Orvane");
    }
    EXPECT_EQ(readFile(folder / "notes.txt"), "first");
    EXPECT_EQ(readFile(folder / "notes 2.txt"), "second");
    EXPECT_TRUE(fs::exists(folder / "a-b-c.txt"));
}

TEST_F(EndToEnd, UnauthenticatedNoiseIsIgnoredAndBadFramesCloseTheConnection)
{
    auto phone = phoneSaysHello(makeUuid(systemRandom()), false);
    nextCode();
    // Before authentication a plain run is not acted on, and plain binary,
    // file and unknown-kind frames are dropped; none of them closes the link.
    const std::string run = R"({"run":{"id":"00000000-0000-0000-0000-000000000000",)"
                            R"("command":{"quitAllApps":{}}}})";
    EXPECT_TRUE(phone->sendFrame(0, asBytes(run)).ok());
    EXPECT_TRUE(phone->sendFrame(1, asBytes("binary")).ok());
    EXPECT_TRUE(phone->sendFrame(2, asBytes("file")).ok());
    EXPECT_TRUE(phone->sendFrame(9, asBytes("unknown kind")).ok());
    EXPECT_TRUE(phone->sendFrame(0, asBytes("{not json")).ok());
    EXPECT_FALSE(phone->readUntilClosed(500));

    // A sealed frame before any session exists is dropped too.
    PhoneClient early;
    ASSERT_TRUE(early.connect("127.0.0.1", m_port, timeoutMs).ok());
    EXPECT_TRUE(early.sendFrame(3, Bytes(40, 7)).ok());
    EXPECT_FALSE(early.readUntilClosed(300));

    const Bytes kindOnly = {0, 0, 0, 1, 0};
    EXPECT_TRUE(phone->sendRawBytes(kindOnly).ok());
    EXPECT_TRUE(phone->readUntilClosed(timeoutMs));

    auto big = phoneSaysHello(makeUuid(systemRandom()), false);
    const Bytes tooLong = {0x03, 0xD0, 0x90, 0x01, 0}; // 64,000,001
    EXPECT_TRUE(big->sendRawBytes(tooLong).ok());
    EXPECT_TRUE(big->readUntilClosed(timeoutMs));
}

TEST_F(EndToEnd, AuthenticatedRecordThatDoesNotOpenClosesTheSession)
{
    auto phone = pairedPhone(makeUuid(systemRandom()));
    EXPECT_TRUE(phone->sendSealed(4, asBytes("inner kind four")).ok());
    EXPECT_TRUE(phone->readUntilClosed(timeoutMs));
}

TEST_F(EndToEnd, DeclineAndForgetFromTheTerminal)
{
    auto phone = phoneSaysHello(makeUuid(systemRandom()), false);
    nextCode();
    m_server->writeInput("d\n");
    auto declined = phone->pendingRejection(timeoutMs);
    ASSERT_TRUE(declined.has_value());
    EXPECT_EQ(*declined, "The Mac declined pairing");
    EXPECT_TRUE(phone->readUntilClosed(timeoutMs));

    const Uuid id = makeUuid(systemRandom());
    auto paired = pairedPhone(id);
    m_server->writeInput("forget " + id.toString() + "\n");
    ASSERT_TRUE(
        m_server->waitForLine(std::regex("^orvane: forgot " + id.toString() + "$"), timeoutMs));
    EXPECT_TRUE(paired->readUntilClosed(timeoutMs)); // forgotten while connected: closed at once
}

// The terminal shows what was asked for: --help and --version alone,
// library lines only with --verbose, and a port that cannot be had ends a
// headless run with a status a service manager acts on.
TEST_F(EndToEnd, TheTerminalShowsOnlyWhatWasAskedFor)
{
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), ORVANE_SERVER_PATH);
        auto vars = env();
        vars["XDG_CONFIG_HOME"] = (m_home / "second").string(); // not the running copy
        vars["QT_DEBUG_PLUGINS"] = "1";                         // library lines for sure
        vars["JOURNAL_STREAM"] = "";
        auto child = std::make_unique<ChildProcess>(args, vars);
        child->wait(timeoutMs);
        return child;
    };
    auto help = run({"--help"});
    EXPECT_EQ(help->output().rfind("Usage: ", 0), 0u) << help->output();
    EXPECT_EQ(help->errors(), "");
    auto version = run({"--version"});
    EXPECT_TRUE(std::regex_match(version->output(), std::regex("orvane \\d+\\.\\d+\\.\\d+\n")))
        << version->output();
    EXPECT_EQ(version->errors(), "");

    const std::string taken = std::to_string(m_port);
    for (bool verbose : {false, true}) {
        std::vector<std::string> args = {"--headless", "--port", taken};
        if (verbose)
            args.push_back("--verbose");
        auto second = run(args);
        EXPECT_EQ(second->wait(0), 1) << second->errors();
        EXPECT_NE(second->errors().find("orvane: cannot listen: "), std::string::npos);
        EXPECT_EQ(second->errors().find("qt.core.plugin") != std::string::npos, verbose);
    }
}

// SIGHUP is what the server gets when the terminal running it closes.
TEST_F(EndToEnd, TrustSurvivesARestartAndTheServerEndsCleanlyOnSigtermAndSighup)
{
    const Uuid id = makeUuid(systemRandom());
    std::string token;
    pairedPhone(id, &token)->close();
    for (const int signal : {SIGTERM, SIGHUP}) {
        m_server->signal(signal);
        auto status = m_server->wait(timeoutMs);
        ASSERT_TRUE(status.has_value()) << ::strsignal(signal) << " did not end the server";
        EXPECT_EQ(*status, 0) << ::strsignal(signal);

        startServer();
        auto again = phoneSaysHello(id, true);
        auto outcome = again->reconnect(token);
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        EXPECT_EQ(outcome->kind, ReconnectOutcome::Kind::connected) << ::strsignal(signal);
    }
}

TEST_F(EndToEnd, CommandLinePairsFromStandardInputAndSendsFiles)
{
    const std::string stateDir = (m_home / "phone-state").string();
    const std::string port = std::to_string(m_port);
    const auto cli = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {ORVANE_PHONE_PATH, "--port", port, "--state-dir", stateDir});
        return std::make_unique<ChildProcess>(args, env());
    };
    auto pair = cli({"pair", "--name", "E2E phone"});
    pair->writeInput(nextCode() + "\n");
    pair->closeInput();
    ASSERT_EQ(pair->wait(timeoutMs), 0) << pair->errors();
    EXPECT_NE(pair->output().find("Paired with "), std::string::npos);

    const fs::path file = m_home / "report.txt";
    std::ofstream(file) << "quarterly";
    auto send = cli({"send", file.string()});
    ASSERT_EQ(send->wait(timeoutMs), 0) << send->errors();
    EXPECT_EQ(send->output(), "Saved to Downloads \u203a Orvane\n");
    EXPECT_EQ(readFile(m_home / "Downloads" / "Orvane" / "report.txt"), "quarterly");

    auto missing = cli({"send", (m_home / "absent.txt").string()});
    EXPECT_EQ(missing->wait(timeoutMs), 1);
    auto misuse = cli({"key"});
    EXPECT_EQ(misuse->wait(timeoutMs), 2);
}

// Without --port the phone finds the server through avahi-daemon, which
// test.sh starts on loopback.
TEST_F(EndToEnd, CommandLineFindsTheServerThroughDiscovery)
{
    const char* ok = std::getenv("ORVANE_TEST_AVAHI_OK");
    if (ok == nullptr || std::string(ok) != "1") {
        const char* why = std::getenv("ORVANE_TEST_AVAHI_ERROR");
        GTEST_FAIL() << "the test avahi-daemon is not available: "
                     << (why ? why : "not started; run through ./test.sh");
    }
    const std::string stateDir = (m_home / "phone-state").string();
    const auto cli = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {ORVANE_PHONE_PATH, "--state-dir", stateDir});
        return std::make_unique<ChildProcess>(args, env());
    };
    // The server registers a moment after it listens; the name is whatever
    // avahi settled on, so it is read back from the listing by port.
    std::string name;
    const std::regex entry("^([^\t]+)\t[^\t]*\t[^\t]*\t" + std::to_string(m_port) + "$");
    for (int tries = 0; tries < 20 && name.empty(); ++tries) {
        auto discover = cli({"discover", "--timeout", "1"});
        discover->wait(timeoutMs);
        if (auto line = discover->waitForLine(entry, 0)) {
            name = (*line)[1];
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
    }
    ASSERT_FALSE(name.empty()) << "the server never appeared in orvane-phone discover";
    // Under the computer's own name, or avahi's alternative of it ("Desk #2").
    const std::string computer = orvane::hostComputerName().toStdString();
    EXPECT_EQ(name.rfind(computer, 0), 0u) << name << " is not named after " << computer;

    auto pair = cli({"pair", "--computer", name, "--name", "E2E phone"});
    pair->writeInput(nextCode() + "\n");
    pair->closeInput();
    ASSERT_EQ(pair->wait(timeoutMs), 0) << pair->errors();

    const fs::path file = m_home / "found.txt";
    std::ofstream(file) << "by name";
    auto send = cli({"send", file.string()}); // the computer paired last, found by its name
    ASSERT_EQ(send->wait(timeoutMs), 0) << send->errors();
    EXPECT_EQ(readFile(m_home / "Downloads" / "Orvane" / "found.txt"), "by name");
}

} // namespace
} // namespace orvane::phone
