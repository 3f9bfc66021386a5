#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace orvane::phone {

constexpr int exitOk = 0;
constexpr int exitFailure = 1;
constexpr int exitUsage = 2;

// Runs orvane-phone with `argv` (without the program name) and returns the
// exit status. Results go to `out`, diagnostics and prompts to `err`; a
// pairing code is read from `in`, with a prompt when `interactive`.
int runCli(const std::vector<std::string>& argv, std::istream& in, std::ostream& out,
           std::ostream& err, bool interactive);

} // namespace orvane::phone
