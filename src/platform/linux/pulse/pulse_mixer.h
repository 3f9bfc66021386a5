#pragma once

#include "platform/system_controls.h"

#include <chrono>
#include <optional>
#include <string>

namespace orvane {

// The default output of the PulseAudio server (or PipeWire's PulseAudio
// service), through libpulse. Each call opens its own short connection on a
// private main loop that runs only until the answer arrives or the time
// budget is spent, so a stopped server costs nothing and a stuck one at most
// the budget. After a stuck server, calls answer "nothing" at once for a few
// seconds instead of each waiting out the budget again.
class PulseMixer {
public:
    explicit PulseMixer(std::chrono::milliseconds budget = std::chrono::milliseconds(1000));

    std::optional<OutputLevel> level();
    bool setVolume(int percent);
    bool setMuted(bool muted);
    // The server's own name ("pulseaudio", or PipeWire's "PulseAudio (on
    // PipeWire 0.3.65)"); nothing when none answers.
    std::optional<std::string> serverName();

private:
    bool resting() const;
    void noteTimeout();

    std::chrono::milliseconds m_budget;
    std::optional<std::chrono::steady_clock::time_point> m_restUntil;
};

} // namespace orvane
