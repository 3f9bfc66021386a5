#include "server_run.h"

#include "protocol/random.h"
#include "protocol/secure_session.h"
#include "settings/settings.h"

#include <QSettings>
#include <QString>

#include <fstream>

#include <regex>
#include <signal.h>

namespace orvane::loadgen {

namespace fs = std::filesystem;

namespace {

// A field of /proc/PID/status in KiB: VmRSS, or VmHWM for the highest.
long statusKiB(int pid, const std::string& field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string key; status >> key;) {
        if (key == field) {
            long kib = -1;
            status >> kib;
            return kib;
        }
        status.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return -1;
}

} // namespace

ServerRun::ServerRun(const std::string& program, std::size_t phones, std::size_t connections)
    : m_program(program)
{
    char pattern[] = "/tmp/orvane-loadgen-XXXXXX";
    if (::mkdtemp(pattern) != nullptr)
        m_home = pattern;
    std::vector<TrustedDevice> trusted;
    for (std::size_t i = 0; i < phones; ++i) {
        PhoneIdentity phone{"Load " + std::to_string(i), makeUuid(systemRandom()),
                            makeToken(systemRandom())};
        trusted.push_back({phone.id, phone.name, hexDigest(phone.token), 0.0});
        m_phones.push_back(phone);
    }
    const QString path = QString::fromStdString((m_home / ".config/Orvane/Orvane.conf").string());
    Settings(path).setTrustedDevices(trusted);
    QSettings limits(path, QSettings::IniFormat);
    limits.setValue(QStringLiteral("limits/authenticatedConnections"),
                    static_cast<qlonglong>(connections));
    limits.sync();
}

ServerRun::~ServerRun()
{
    m_server.reset();
    m_relay.reset();
    if (!m_home.empty())
        fs::remove_all(m_home);
}

std::string ServerRun::startRelay(const std::string& program)
{
    // The relay says where it listens on standard error.
    m_relay = std::make_unique<process::ChildProcess>(
        std::vector<std::string>{"/bin/sh", "-c", "exec \"$0\" --listen 127.0.0.1:0 2>&1", program},
        std::map<std::string, std::string>{});
    auto listening = m_relay->waitForLine(
        std::regex("^orvane-relay: listening on (ws://127\\.0\\.0\\.1:\\d+)"), 10'000);
    if (!listening)
        return "the relay did not start: " + m_relay->errors();
    m_relayBase = (*listening)[1];
    return {};
}

std::string ServerRun::start(const std::map<std::string, std::string>& extraEnv)
{
    if (m_home.empty())
        return "no temporary home";
    std::map<std::string, std::string> env = {
        {"HOME", m_home.string()},
        {"XDG_CONFIG_HOME", (m_home / ".config").string()},
        {"XDG_DATA_HOME", (m_home / ".local/share").string()},
        {"XDG_STATE_HOME", (m_home / ".local/state").string()},
        {"XDG_CACHE_HOME", (m_home / ".cache").string()}};
    if (!m_relayBase.empty())
        env["ORVANE_RELAY_URL"] = m_relayBase;
    env.insert(extraEnv.begin(), extraEnv.end());
    m_server = std::make_unique<process::ChildProcess>(
        std::vector<std::string>{m_program, "--headless", "--port", "0"}, env);
    auto listening = m_server->waitForLine(std::regex("^orvane: listening on port (\\d+)"), 20'000);
    if (!listening)
        return "the server did not start: " + m_server->errors();
    m_port = static_cast<std::uint16_t>(std::stoi((*listening)[1]));
    m_pid = m_server->pid();
    return {};
}

bool ServerRun::running()
{
    return m_server && !m_server->wait(0).has_value();
}

std::string ServerRun::stop()
{
    m_server->signal(SIGTERM);
    const std::optional<int> status = m_server->wait(20'000); // a sanitizer's report takes time
    const std::string errors = m_server->errors();
    const std::size_t report = errors.find("Sanitizer");
    if (status == 0 && report == std::string::npos)
        return {};
    std::string why = status ? "the server exited with " + std::to_string(*status)
                             : std::string("the server did not end within 20 s");
    if (report != std::string::npos)
        why += "\n" + errors.substr(errors.rfind('\n', report) + 1, 4000);
    return why;
}

ServerSample ServerRun::sample()
{
    ServerSample sample;
    sample.residentKiB = statusKiB(m_pid, "VmRSS:");
    sample.peakKiB = statusKiB(m_pid, "VmHWM:");
    m_server->writeInput("status\n");
    static const std::regex status("^orvane: status connections (\\d+) .* frame-bytes-arriving "
                                   "(\\d+) loop-stall-ms (\\d+)$");
    if (auto line = m_server->waitForLine(status, 2'000)) {
        sample.connections = std::stoll((*line)[1]);
        sample.frameBytesArriving = std::stoll((*line)[2]);
        sample.loopStallMs = std::stoll((*line)[3]);
    }
    m_server->forgetScanned(); // hours of activity lines need no keeping
    return sample;
}

} // namespace orvane::loadgen
