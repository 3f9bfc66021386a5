#pragma once

#include "cli.h"
#include "cli_args.h"
#include "phone_client.h"
#include "phone_state.h"

#include <iosfwd>

// The command-line runner shared by cli.cpp (plumbing: options, state,
// finding and opening the computer) and cli_commands.cpp (the commands).
namespace orvane::phone::detail {

constexpr int defaultTimeoutMs = 10'000;
constexpr int defaultDiscoverMs = 3'000;
constexpr int rejectionPeekMs = 300;

struct Endpoint {
    std::string host;
    std::uint16_t port = 0;
    std::string name; // the advertised computer name; empty when given by hand
};

// One command-line run. Each command returns its exit status and reports its
// own failures, so a failure message is printed exactly once.
class Cli {
public:
    Cli(Invocation invocation, std::istream& in, std::ostream& out, std::ostream& err,
        bool interactive)
        : m_inv(std::move(invocation)), m_in(in), m_out(out), m_err(err), m_interactive(interactive)
    {
    }

    int run();

private:
    int fail(const std::string& message);
    int fail(const Error& error);
    int usage(const std::string& message);
    int reportError(const Error& error);
    int timeoutMs() const { return m_inv.globals.timeoutMs.value_or(defaultTimeoutMs); }

    Result<Arguments> arguments(const std::set<std::string>& values,
                                const std::set<std::string>& flags, std::size_t minWords,
                                std::size_t maxWords);
    std::string stateDir() const;
    Result<PhoneState> state();
    Status saveState(const PhoneState& state);
    Result<Endpoint> resolveEndpoint(const std::string& preferredName);
    Status connect(PhoneClient& client, const Endpoint& endpoint);
    Result<std::string> reachPairedComputer(PhoneClient& client, const PhoneState& phone);
    Status openSession(PhoneClient& client);

    int discover();
    int pair();
    int pairLoop(PhoneClient& client, PhoneState& state, const Arguments& args);
    std::optional<std::string> promptCode();
    int runCommand(const OrvaneCommand& command);
    int reportResult(PhoneClient& client, const Result<Uuid>& id, const char* failure);
    int sendFile();
    int request();
    int watch();
    int pointer();
    int listen();

    Invocation m_inv;
    std::istream& m_in;
    std::ostream& m_out;
    std::ostream& m_err;
    bool m_interactive;
};

} // namespace orvane::phone::detail
