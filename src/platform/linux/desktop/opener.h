#pragma once

#include <QString>

#include <chrono>
#include <functional>

namespace orvane {

// Starts `program` (found on PATH) with one argument and no shell, and tells
// `done` once whether it took the argument: from its exit status, or yes when
// it still runs after `wait`. Whatever it writes to its error output, and so
// do the programs it starts, goes line by line to the diagnostics log and
// never to the terminal; its standard output is dropped. False, with `done`
// told at once, when the program is not found or too many are running.
bool startOpener(const QString& program, const QString& argument, std::chrono::milliseconds wait,
                 std::function<void(bool opened)> done);

} // namespace orvane
