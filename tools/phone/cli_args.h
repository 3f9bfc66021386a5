#pragma once

#include "protocol/result.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::phone {

// Usage errors (exit status 2) carry this in Error::where.
constexpr std::string_view usageMarker = "usage";
inline Error usageError(std::string message)
{
    return Error{std::move(message), std::string(usageMarker)};
}
inline bool isUsageError(const Error& error)
{
    return error.where == usageMarker;
}

struct GlobalOptions {
    std::optional<std::string> host;
    std::optional<std::uint16_t> port;
    std::optional<int> timeoutMs;
    std::optional<std::string> stateDir;
    std::optional<std::string> relay;
    std::optional<std::string> computer;
    bool help = false;
    bool version = false;
};

// The command line split into global options, the command word and what
// follows it. Global options may stand anywhere before a "--"; everything
// else after the command word is left for the command to read.
struct Invocation {
    GlobalOptions globals;
    std::string command;
    std::vector<std::string> args; // may contain "--" and the command's own options
};

// A command's own options and its positional words.
struct Arguments {
    std::map<std::string, std::string> values;
    std::set<std::string> flags;
    std::vector<std::string> positional;

    const std::string* value(const std::string& option) const;
    bool has(const std::string& flag) const { return flags.count(flag) != 0; }
};

// Errors are usage errors.
Result<Invocation> parseInvocation(const std::vector<std::string>& argv);
Result<Arguments> splitArguments(const Invocation& invocation,
                                 const std::set<std::string>& valueOptions,
                                 const std::set<std::string>& flagOptions = {});

// Seconds as given on the command line ("2", "0.5") to milliseconds.
std::optional<int> parseSeconds(const std::string& text);
std::optional<std::int64_t> parseInteger(const std::string& text);
// A finite number such as "0.25", "-3" or "1e2".
std::optional<double> parseDecimal(const std::string& text);

std::string usageText();

} // namespace orvane::phone
