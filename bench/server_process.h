#pragma once

// The real server binary, started headless in a throwaway HOME for a
// benchmark, with what /proc tells about it.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace orvane::bench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The headless server with its standard output in a file, so it never
// blocks on a pipe nobody reads.
class Server {
public:
    // `prepare` may put files into the server's home before it starts.
    explicit Server(const std::function<void(const fs::path& home)>& prepare = {})
    {
        char pattern[] = "/tmp/orvane-bench-XXXXXX";
        if (::mkdtemp(pattern) == nullptr)
            return;
        m_home = pattern;
        m_log = m_home / "stdout.txt";
        // Benchmarks pair phone after phone from one address.
        fs::create_directories(m_home / ".config/Orvane");
        std::ofstream(m_home / ".config/Orvane/Orvane.conf")
            << "[limits]\npairingStartSpacingMs=0\npairingStartsPerMinute=1000\n"
               "pairingStartsPerAddressPerMinute=1000\n";
        if (prepare)
            prepare(m_home);
        std::map<std::string, std::string> env;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            std::string text = *entry;
            const auto equals = text.find('=');
            if (equals != std::string::npos)
                env[text.substr(0, equals)] = text.substr(equals + 1);
        }
        env["HOME"] = m_home.string();
        for (auto [name, dir] : {std::pair{"XDG_CONFIG_HOME", ".config"},
                                 {"XDG_DATA_HOME", ".local/share"},
                                 {"XDG_STATE_HOME", ".local/state"},
                                 {"XDG_CACHE_HOME", ".cache"}})
            env[name] = (m_home / dir).string();
        std::vector<std::string> texts;
        for (const auto& [name, value] : env)
            texts.push_back(name + "=" + value);
        std::vector<char*> envp;
        for (auto& text : texts)
            envp.push_back(text.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, m_log.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::string path = ORVANE_SERVER_PATH;
        char headless[] = "--headless", portFlag[] = "--port", port[] = "0";
        char* argv[] = {path.data(), headless, portFlag, port, nullptr};
        if (::posix_spawn(&m_pid, path.c_str(), &actions, nullptr, argv, envp.data()) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }

    ~Server()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            const auto deadline = Clock::now() + std::chrono::seconds(5);
            while (::waitpid(m_pid, nullptr, WNOHANG) == 0) {
                if (Clock::now() > deadline) {
                    ::kill(m_pid, SIGKILL);
                    ::waitpid(m_pid, nullptr, 0);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        if (!m_home.empty())
            fs::remove_all(m_home);
    }

    bool started() const { return m_pid > 0; }
    const fs::path& home() const { return m_home; }

    // Resident memory now, and at its highest so far, in KiB.
    long residentKiB() const { return statusField("VmRSS:"); }
    long peakKiB() const { return statusField("VmHWM:"); }

    // User plus system time the server has used so far.
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
        return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }

    // The first capture of the first output line that matches, waiting for it.
    std::string waitForLine(const std::regex& pattern)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(10'000);
        while (Clock::now() < deadline) {
            std::ifstream log(m_log);
            std::smatch match;
            for (std::string line; std::getline(log, line);)
                if (std::regex_search(line, match, pattern))
                    return match[1];
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return {};
    }

private:
    long statusField(const std::string& name) const
    {
        std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
        for (std::string key; status >> key;) {
            if (key == name) {
                long kib = -1;
                status >> kib;
                return kib;
            }
            status.ignore(1 << 20, '\n');
        }
        return -1;
    }

    fs::path m_home;
    fs::path m_log;
    pid_t m_pid = -1;
};

} // namespace orvane::bench
