#include "cli.h"

#include "protocol/pairing_url.h"
#include "protocol/relay.h"
#include "protocol/secure_session.h"

#include "cli_runner.h"
#include "discover.h"
#include "friendly_command.h"

#include "protocol/codec.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>

#ifndef ORVANE_VERSION
#define ORVANE_VERSION "0.0.0"
#endif

namespace orvane::phone {
namespace detail {
namespace {

std::string nameList(const std::vector<DiscoveredService>& services)
{
    std::string list;
    for (const auto& service : services) {
        list += (list.empty() ? "" : ", ") + service.name;
    }
    return list;
}

} // namespace

int Cli::fail(const std::string& message)
{
    m_err << "orvane-phone: " << message << std::endl;
    return exitFailure;
}

int Cli::fail(const Error& error)
{
    if (isTimeout(error)) {
        const int tenths = (timeoutMs() + 50) / 100;
        return fail(error.message + " (" + std::to_string(tenths / 10) +
                    (tenths % 10 ? "." + std::to_string(tenths % 10) : "") +
                    " s; --timeout sets the wait)");
    }
    return fail(error.message);
}

int Cli::usage(const std::string& message)
{
    m_err << "orvane-phone: " << message << "\nTry 'orvane-phone --help'." << std::endl;
    return exitUsage;
}

int Cli::reportError(const Error& error)
{
    return isUsageError(error) ? usage(error.message) : fail(error);
}

Result<Arguments> Cli::arguments(const std::set<std::string>& values,
                                 const std::set<std::string>& flags, std::size_t minWords,
                                 std::size_t maxWords)
{
    auto args = splitArguments(m_inv, values, flags);
    if (args && (args->positional.size() < minWords || args->positional.size() > maxWords)) {
        return usageError(m_inv.command + ": wrong number of arguments");
    }
    return args;
}

std::string Cli::stateDir() const
{
    return m_inv.globals.stateDir.value_or(
        stateDirectory(std::getenv("XDG_STATE_HOME"), std::getenv("HOME")));
}

Result<PhoneState> Cli::state()
{
    return loadState(stateDir());
}

Status Cli::saveState(const PhoneState& state)
{
    return phone::saveState(stateDir(), state);
}

int Cli::run()
{
    const std::string& command = m_inv.command;
    if (command == "discover") {
        return discover();
    }
    if (command == "pair") {
        return pair();
    }
    if (command == "send") {
        return sendFile();
    }
    if (command == "info" || command == "stats" || command == "clipboard" || command == "windows") {
        return request();
    }
    if (command == "watch") {
        return watch();
    }
    if (command == "pointer") {
        return pointer();
    }
    if (command == "listen") {
        return listen();
    }
    if (command == "run") {
        auto args = arguments({}, {}, 1, 1);
        if (!args) {
            return reportError(args.error());
        }
        auto parsed = decodeJson<OrvaneCommand>(args->positional[0]);
        if (!parsed) {
            const std::string& where = parsed.error().where;
            return usage("not a valid command: " + parsed.error().message +
                         (where.empty() ? "" : " (at " + where + ")"));
        }
        return runCommand(*parsed);
    }
    if (isFriendlyVerb(command)) {
        auto parsed = parseFriendlyCommand(m_inv);
        return parsed ? runCommand(*parsed) : reportError(parsed.error());
    }
    return usage("unknown command \"" + command + "\"");
}

int Cli::discover()
{
    auto args = arguments({}, {}, 0, 0);
    if (!args) {
        return reportError(args.error());
    }
    std::string error;
    const auto services = discoverServices(
        std::string(serviceType), m_inv.globals.timeoutMs.value_or(defaultDiscoverMs), &error);
    if (services.empty() && !error.empty()) {
        return fail("discovery failed: " + error);
    }
    if (services.empty()) {
        m_err << "No Orvane computers found." << std::endl;
    }
    for (const auto& service : services) {
        m_out << service.name << '\t' << service.host << '\t' << service.address << '\t'
              << service.port << '\n';
    }
    m_out.flush();
    return exitOk;
}

// With --port the address is taken as given. Otherwise the computer is found
// on the network: the one with the preferred name, else the only one there.
Result<Endpoint> Cli::resolveEndpoint(const std::string& preferredName)
{
    const auto& globals = m_inv.globals;
    if (globals.port) {
        return Endpoint{globals.host.value_or("127.0.0.1"), *globals.port, ""};
    }
    std::string error;
    auto services = discoverServices(std::string(serviceType),
                                     std::min(timeoutMs(), defaultDiscoverMs), &error);
    if (globals.host) {
        std::erase_if(services, [&](const DiscoveredService& s) {
            return s.host != *globals.host && s.address != *globals.host;
        });
    }
    if (services.empty()) {
        return failure("no Orvane computer found on the network" +
                       (error.empty() ? "" : " (" + error + ")") + "; pass --host and --port");
    }
    const auto named = std::find_if(services.begin(), services.end(),
                                    [&](const auto& s) { return s.name == preferredName; });
    const DiscoveredService* chosen = named != services.end() ? &*named : nullptr;
    if (chosen == nullptr && globals.computer) {
        return failure("no computer named \"" + *globals.computer + "\" on the network (found " +
                       nameList(services) + ")");
    }
    if (chosen == nullptr && services.size() > 1) {
        return failure("several computers found (" + nameList(services) +
                       "); choose one with --computer NAME");
    }
    if (chosen == nullptr) {
        chosen = &services.front();
    }
    const std::string host = chosen->address.empty() ? chosen->host : chosen->address;
    return Endpoint{host, chosen->port, chosen->name};
}

Status Cli::connect(PhoneClient& client, const Endpoint& endpoint)
{
    client.setTimeout(timeoutMs());
    return client.connect(endpoint.host, endpoint.port, timeoutMs());
}

// Reaches the computer the phone would use, directly or through the relay,
// and returns the name its token is kept under.
Result<std::string> Cli::reachPairedComputer(PhoneClient& client, const PhoneState& phone)
{
    const std::string preferred = m_inv.globals.computer.value_or(phone.lastComputer);
    auto notPaired = [](const std::string& name) {
        return failure("this phone is not paired with \"" + name + "\"; run 'orvane-phone pair'");
    };
    if (m_inv.globals.relay) {
        const std::string* token = phone.tokenFor(preferred);
        if (token == nullptr) {
            return notPaired(preferred);
        }
        // Both ends find the same room from the token alone.
        const std::string room = relayRoom(hexDigest(*token));
        if (auto connected = client.connectRelay(
                relayRoomAddress(*m_inv.globals.relay, room, "phone"), timeoutMs());
            !connected) {
            return connected.error();
        }
        return preferred;
    }
    auto endpoint = resolveEndpoint(preferred);
    if (!endpoint) {
        return endpoint.error();
    }
    // The advertised name is the computer's own name, which keys its token.
    const std::string tokenName =
        phone.tokenFor(endpoint->name) != nullptr ? endpoint->name : preferred;
    if (phone.tokenFor(tokenName) == nullptr) {
        return notPaired(tokenName);
    }
    if (auto connected = connect(client, *endpoint); !connected) {
        return connected.error();
    }
    return tokenName;
}

// Connects and reconnects with the stored token of the chosen computer.
Status Cli::openSession(PhoneClient& client)
{
    auto loaded = state();
    if (!loaded) {
        return loaded.error();
    }
    PhoneState& phone = *loaded;
    if (phone.tokens.empty()) {
        return failure("this phone is not paired yet; run 'orvane-phone pair'");
    }
    auto tokenName = reachPairedComputer(client, phone);
    if (!tokenName) {
        return tokenName.error();
    }
    const std::string token = *phone.tokenFor(*tokenName);
    if (auto exchanged = client.hello(phone.deviceName, phone.deviceID, true); !exchanged) {
        return exchanged.error();
    }
    auto outcome = client.reconnect(token);
    if (!outcome) {
        return outcome.error();
    }
    if (outcome->kind == ReconnectOutcome::Kind::pairingRequired) {
        return failure("\"" + *tokenName +
                       "\" no longer accepts this phone's token; pair again "
                       "with 'orvane-phone pair'");
    }
    const std::string& macName = outcome->welcome.macName;
    if (macName != *tokenName) {
        // The computer was renamed; keep its token under the name it uses now.
        phone.renameComputer(*tokenName, macName);
        (void)saveState(phone);
    }
    return success();
}

} // namespace detail

int runCli(const std::vector<std::string>& argv, std::istream& in, std::ostream& out,
           std::ostream& err, bool interactive)
{
    auto invocation = parseInvocation(argv);
    if (!invocation) {
        err << "orvane-phone: " << invocation.error().message << "\nTry 'orvane-phone --help'."
            << std::endl;
        return exitUsage;
    }
    if (invocation->globals.help) {
        out << usageText();
        return exitOk;
    }
    if (invocation->globals.version) {
        out << "orvane-phone " << ORVANE_VERSION << std::endl;
        return exitOk;
    }
    if (invocation->command.empty()) {
        err << usageText();
        return exitUsage;
    }
    return detail::Cli(std::move(*invocation), in, out, err, interactive).run();
}

} // namespace orvane::phone
