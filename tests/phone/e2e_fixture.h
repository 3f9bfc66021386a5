#pragma once

// One headless server with a home of its own, and a phone for it.
#include "child_process.h"

#include "phone/phone_client.h"

#include "protocol/random.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace orvane::phone {

namespace fs = std::filesystem;
using process::ChildProcess;

constexpr int timeoutMs = 10'000;

inline std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// One headless server with a home of its own, so its trusted devices and
// received files start empty and vanish afterwards.
class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/orvane-e2e-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_home = pattern;
        ASSERT_TRUE(fs::exists(ORVANE_SERVER_PATH)) << ORVANE_SERVER_PATH << " is not built";
        prepareHome();
        allowQuickPairings();
        startServer();
    }

    // Tests pair phone after phone from one address, faster than the
    // program lets strangers start pairings.
    void allowQuickPairings()
    {
        const fs::path path = m_home / ".config/Orvane/Orvane.conf";
        std::string settings = readFile(path);
        const std::string limits = "pairingStartSpacingMs=0\npairingStartsPerMinute=1000\n"
                                   "pairingStartsPerAddressPerMinute=1000\n";
        const auto section = settings.find("[limits]\n");
        if (section == std::string::npos)
            settings += "\n[limits]\n" + limits;
        else
            settings.insert(section + 9, limits);
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << settings;
    }

    void startServer()
    {
        std::vector<std::string> argv = m_serverHost;
        argv.insert(argv.end(), {ORVANE_SERVER_PATH, "--headless", "--port", "0"});
        m_server = std::make_unique<ChildProcess>(argv, env());
        auto listening =
            m_server->waitForLine(std::regex("^orvane: listening on port (\\d+)"), timeoutMs);
        ASSERT_TRUE(listening) << "the server did not start: " << m_server->errors();
        m_port = static_cast<std::uint16_t>(std::stoi((*listening)[1]));
    }

    // Files the server must find when it starts.
    virtual void prepareHome() {}

    void TearDown() override
    {
        m_server.reset();
        fs::remove_all(m_home);
    }

    std::map<std::string, std::string> env() const
    {
        std::map<std::string, std::string> vars = {
            {"HOME", m_home.string()},
            {"XDG_CONFIG_HOME", (m_home / ".config").string()},
            {"XDG_DATA_HOME", (m_home / ".local/share").string()},
            {"XDG_STATE_HOME", (m_home / ".local/state").string()},
            {"XDG_CACHE_HOME", (m_home / ".cache").string()}};
        for (const auto& [name, value] : m_extraEnv)
            vars[name] = value;
        return vars;
    }

    std::unique_ptr<PhoneClient> phoneSaysHello(const Uuid& id, bool hasToken)
    {
        auto phone = std::make_unique<PhoneClient>();
        phone->setTimeout(timeoutMs);
        auto connected = phone->connect("127.0.0.1", m_port, timeoutMs);
        EXPECT_TRUE(connected.ok()) << connected.error().message;
        auto exchange = phone->hello("E2E phone", id, hasToken);
        EXPECT_TRUE(exchange.ok()) << exchange.error().message;
        return phone;
    }

    // The code of the next pairing request the server announces.
    std::string nextCode()
    {
        auto line = m_server->waitForLine(
            std::regex("^orvane: pairing request from \"E2E phone\" code (\\d{6})$"), timeoutMs);
        EXPECT_TRUE(line) << "no pairing request announced";
        return line ? (*line)[1] : "";
    }

    std::string nextPairingUrl()
    {
        auto line =
            m_server->waitForLine(std::regex("^orvane: pairing url (orvane://\\S+)$"), timeoutMs);
        EXPECT_TRUE(line) << "no pairing url announced";
        return line ? (*line)[1] : "";
    }

    static PairOutcome expectOutcome(Result<PairOutcome> outcome, PairOutcome::Kind kind)
    {
        EXPECT_TRUE(outcome.ok()) << (outcome.ok() ? "" : outcome.error().message);
        if (!outcome.ok()) {
            return {};
        }
        EXPECT_EQ(static_cast<int>(outcome->kind), static_cast<int>(kind)) << outcome->reason;
        return *outcome;
    }

    // A phone paired with the code, session open.
    std::unique_ptr<PhoneClient> pairedPhone(const Uuid& id, std::string* token = nullptr)
    {
        auto phone = phoneSaysHello(id, false);
        auto paired = expectOutcome(phone->pairWithCode(nextCode()), PairOutcome::Kind::paired);
        if (token != nullptr) {
            *token = paired.token;
        }
        return phone;
    }

    fs::path m_home;
    std::map<std::string, std::string> m_extraEnv; // set before startServer()
    // A program that runs the server as its child, as a terminal does; set
    // in prepareHome(). m_server is then that program.
    std::vector<std::string> m_serverHost;
    std::unique_ptr<ChildProcess> m_server;
    std::uint16_t m_port = 0;
};

} // namespace orvane::phone
