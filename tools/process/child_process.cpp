#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace orvane::process {

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::map<std::string, std::string>& env)
{
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(err, O_CLOEXEC) != 0) {
        return;
    }
    // Everything the child needs is built before fork: other threads may
    // hold the allocator's lock at that moment.
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const auto eq = text.find('=');
        merged[text.substr(0, eq)] = eq == std::string::npos ? "" : text.substr(eq + 1);
    }
    for (const auto& [name, value] : env) {
        merged[name] = value;
    }
    std::vector<std::string> envText;
    for (const auto& [name, value] : merged) {
        envText.push_back(name + "=" + value);
    }
    std::vector<char*> args, envp;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    for (const auto& entry : envText) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    args.push_back(nullptr);
    envp.push_back(nullptr);
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    m_in = in[1];
    m_out = out[0];
    m_err = err[0];
    ::signal(SIGPIPE, SIG_IGN); // writing to a program that has exited must not end the test
    m_reader = std::thread([this] { readOutput(); });
}

ChildProcess::~ChildProcess()
{
    terminate();
    closeInput();
    if (m_reader.joinable()) {
        m_reader.join();
    }
    ::close(m_out);
    ::close(m_err);
}

void ChildProcess::readOutput()
{
    pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
    int open = 2;
    char buffer[4096];
    while (open > 0 && ::poll(fds, 2, -1) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                fds[i].fd = -1;
                --open;
                continue;
            }
            std::lock_guard lock(m_lock);
            (i == 0 ? m_output : m_errors).append(buffer, static_cast<std::size_t>(n));
            m_grew.notify_all();
        }
    }
    std::lock_guard lock(m_lock);
    m_streamsClosed = true;
    m_grew.notify_all();
}

std::optional<std::vector<std::string>> ChildProcess::waitForLine(const std::regex& pattern,
                                                                  int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock lock(m_lock);
    for (;;) {
        for (std::size_t end; (end = m_output.find('\n', m_scanned)) != std::string::npos;) {
            const std::string line = m_output.substr(m_scanned, end - m_scanned);
            m_scanned = end + 1;
            std::smatch match;
            if (std::regex_search(line, match, pattern)) {
                return std::vector<std::string>(match.begin(), match.end());
            }
        }
        if (m_grew.wait_until(lock, deadline) == std::cv_status::timeout) {
            return std::nullopt;
        }
    }
}

void ChildProcess::forgetScanned()
{
    std::lock_guard lock(m_lock);
    m_output.erase(0, m_scanned);
    m_scanned = 0;
}

void ChildProcess::writeInput(const std::string& text)
{
    if (m_in >= 0) {
        (void)!::write(m_in, text.data(), text.size());
    }
}

void ChildProcess::closeInput()
{
    if (m_in >= 0) {
        ::close(m_in);
        m_in = -1;
    }
}

std::optional<int> ChildProcess::wait(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!m_status && m_pid > 0) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // What the program wrote just before it ended may still be in the
    // pipes. Programs it left running may hold them open, so this is bounded.
    std::unique_lock lock(m_lock);
    m_grew.wait_for(lock, std::chrono::seconds(2), [this] { return m_streamsClosed; });
    return m_status;
}

void ChildProcess::terminate()
{
    if (m_pid <= 0 || m_status) {
        return;
    }
    ::kill(m_pid, SIGTERM);
    if (!wait(3000)) {
        ::kill(m_pid, SIGKILL);
        wait(3000);
    }
}

void ChildProcess::signal(int number)
{
    if (m_pid > 0 && !m_status) {
        ::kill(m_pid, number);
    }
}

std::string ChildProcess::output() const
{
    std::lock_guard lock(m_lock);
    return m_output;
}

std::string ChildProcess::errors() const
{
    std::lock_guard lock(m_lock);
    return m_errors;
}

} // namespace orvane::process
