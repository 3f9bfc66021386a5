#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace orvane::phone::testing {

// A program run with its standard streams on pipes. Output is collected by a
// reader thread, so a test can wait for a line the program prints without
// the program ever blocking on a full pipe.
class ChildProcess {
public:
    // `env` is added to (and overrides) this process's environment.
    ChildProcess(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& env);
    // Ends the program (SIGTERM, then SIGKILL) if it still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return m_pid > 0; }
    int pid() const { return m_pid; }

    // Waits for the next standard-output line, after any line matched
    // before, that `pattern` matches; returns its sub-matches (0 = the line).
    std::optional<std::vector<std::string>> waitForLine(const std::regex& pattern, int timeoutMs);
    void writeInput(const std::string& text);
    void closeInput();
    // The exit status, or absent while it still runs after timeoutMs.
    std::optional<int> wait(int timeoutMs);
    void terminate();
    // Sends the signal if the program still runs.
    void signal(int number);

    std::string output() const;
    std::string errors() const;

private:
    void readOutput();

    int m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    int m_err = -1;
    std::optional<int> m_status;
    mutable std::mutex m_lock;
    std::condition_variable m_grew;
    std::string m_output;
    std::string m_errors;
    std::size_t m_scanned = 0; // bytes of m_output already searched past
    bool m_streamsClosed = false;
    std::thread m_reader;
};

} // namespace orvane::phone::testing
