#pragma once

#include <QtGlobal>

// What `orvane` is told on its command line.
namespace orvane {

struct Options {
    bool headless = false;
    bool verbose = false;
    quint16 port = 0;
};

// Reads the options. --help and --version print what they are asked for,
// and nothing else, and end the program; so does a bad option, with status 2.
// Call it before any application object exists: making one already talks to
// the display and may print.
Options parseCommandLine(int argc, char** argv);

// Sends library messages and the diagnostic lines to standard error only
// with `verbose`, or when standard error is the systemd journal, which keeps
// everything; otherwise only critical ones. Install it first thing.
void routeDiagnostics(bool verbose);

} // namespace orvane
