#include "pulse_mixer.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/volume.h>

#include <algorithm>
#include <cmath>
#include <functional>

namespace orvane {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto restAfterTimeout = std::chrono::seconds(5);
// The server resolves this name to whichever sink is the default now.
constexpr const char* defaultSink = "@DEFAULT_SINK@";

struct SinkState {
    bool done = false;
    bool found = false;
    std::uint32_t index = 0;
    pa_cvolume volume{};
    bool muted = false;
};

struct ServerState {
    bool done = false;
    std::string name;
};

struct SuccessState {
    bool done = false;
    bool success = false;
};

enum class Outcome { ok, failed, timedOut };

// One connection to the server, closed when it goes out of scope.
class PulseSession {
public:
    explicit PulseSession(Clock::time_point deadline)
        : m_deadline(deadline), m_loop(pa_mainloop_new())
    {
        if (m_loop)
            m_context = pa_context_new(pa_mainloop_get_api(m_loop), "Orvane");
    }
    ~PulseSession()
    {
        if (m_context) {
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
        }
        if (m_loop)
            pa_mainloop_free(m_loop);
    }
    PulseSession(const PulseSession&) = delete;
    PulseSession& operator=(const PulseSession&) = delete;

    // Never spawns a server: a desktop without sound stays without.
    Outcome connect()
    {
        if (!m_context ||
            pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return Outcome::failed;
        return runUntil([this] {
            pa_context_state_t s = pa_context_get_state(m_context);
            return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
        });
    }

    Outcome readDefaultSink(SinkState& sink)
    {
        return await(pa_context_get_sink_info_by_name(m_context, defaultSink, onSinkInfo, &sink),
                     [&] { return sink.done; });
    }

    Outcome await(pa_operation* operation, const std::function<bool()>& done)
    {
        if (!operation)
            return Outcome::failed;
        Outcome outcome = runUntil(done);
        // The callbacks point into the caller's frame: none may run later.
        if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING)
            pa_operation_cancel(operation);
        pa_operation_unref(operation);
        return outcome;
    }

    pa_context* context() const { return m_context; }

private:
    static void onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* userdata)
    {
        auto* sink = static_cast<SinkState*>(userdata);
        if (info) {
            sink->found = true;
            sink->index = info->index;
            sink->volume = info->volume;
            sink->muted = info->mute != 0;
        }
        if (eol != 0)
            sink->done = true;
    }

    Outcome runUntil(const std::function<bool()>& done)
    {
        while (!done()) {
            if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)))
                return Outcome::failed;
            auto left =
                std::chrono::duration_cast<std::chrono::microseconds>(m_deadline - Clock::now());
            if (left.count() <= 0)
                return Outcome::timedOut;
            if (pa_mainloop_prepare(m_loop, static_cast<int>(left.count())) < 0 ||
                pa_mainloop_poll(m_loop) < 0 || pa_mainloop_dispatch(m_loop) < 0)
                return Outcome::failed;
        }
        if (m_context && pa_context_get_state(m_context) != PA_CONTEXT_READY &&
            !PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)))
            return Outcome::failed;
        return Outcome::ok;
    }

    Clock::time_point m_deadline;
    pa_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
};

void onServerInfo(pa_context*, const pa_server_info* info, void* userdata)
{
    auto* state = static_cast<ServerState*>(userdata);
    if (info && info->server_name)
        state->name = info->server_name;
    state->done = true;
}

void onSuccess(pa_context*, int success, void* userdata)
{
    auto* state = static_cast<SuccessState*>(userdata);
    state->success = success != 0;
    state->done = true;
}

int toPercent(pa_volume_t volume)
{
    const double percent = std::round(double(volume) * 100.0 / double(PA_VOLUME_NORM));
    // Above 100 % is software amplification; the phone's scale ends at 100.
    return static_cast<int>(std::clamp(percent, 0.0, 100.0));
}

pa_volume_t fromPercent(int percent)
{
    return static_cast<pa_volume_t>(
        std::lround(double(std::clamp(percent, 0, 100)) * double(PA_VOLUME_NORM) / 100.0));
}

} // namespace

PulseMixer::PulseMixer(std::chrono::milliseconds budget) : m_budget(budget) {}

bool PulseMixer::resting() const
{
    return m_restUntil && Clock::now() < *m_restUntil;
}

void PulseMixer::noteTimeout()
{
    m_restUntil = Clock::now() + restAfterTimeout;
}

std::optional<OutputLevel> PulseMixer::level()
{
    if (resting())
        return std::nullopt;
    PulseSession session(Clock::now() + m_budget);
    SinkState sink;
    Outcome outcome = session.connect();
    if (outcome == Outcome::ok)
        outcome = session.readDefaultSink(sink);
    if (outcome == Outcome::timedOut)
        noteTimeout();
    if (outcome != Outcome::ok || !sink.found)
        return std::nullopt;
    // The loudest channel, as desktop volume sliders show it.
    return OutputLevel{toPercent(pa_cvolume_max(&sink.volume)), sink.muted};
}

bool PulseMixer::setVolume(int percent)
{
    if (resting())
        return false;
    PulseSession session(Clock::now() + m_budget);
    SinkState sink;
    SuccessState result;
    Outcome outcome = session.connect();
    if (outcome == Outcome::ok)
        outcome = session.readDefaultSink(sink);
    if (outcome == Outcome::ok && sink.found) {
        // The same level on every channel of the sink's own channel map.
        pa_cvolume volume;
        pa_cvolume_set(&volume, sink.volume.channels, fromPercent(percent));
        // By index: the default may change between the two requests.
        outcome = session.await(pa_context_set_sink_volume_by_index(session.context(), sink.index,
                                                                    &volume, onSuccess, &result),
                                [&] { return result.done; });
    }
    if (outcome == Outcome::timedOut)
        noteTimeout();
    return outcome == Outcome::ok && result.success;
}

bool PulseMixer::setMuted(bool muted)
{
    if (resting())
        return false;
    PulseSession session(Clock::now() + m_budget);
    SuccessState result;
    Outcome outcome = session.connect();
    if (outcome == Outcome::ok)
        outcome = session.await(pa_context_set_sink_mute_by_name(session.context(), defaultSink,
                                                                 muted, onSuccess, &result),
                                [&] { return result.done; });
    if (outcome == Outcome::timedOut)
        noteTimeout();
    return outcome == Outcome::ok && result.success;
}

std::optional<std::string> PulseMixer::serverName()
{
    if (resting())
        return std::nullopt;
    PulseSession session(Clock::now() + m_budget);
    ServerState server;
    Outcome outcome = session.connect();
    if (outcome == Outcome::ok)
        outcome =
            session.await(pa_context_get_server_info(session.context(), onServerInfo, &server),
                          [&] { return server.done; });
    if (outcome == Outcome::timedOut)
        noteTimeout();
    if (outcome != Outcome::ok || server.name.empty())
        return std::nullopt;
    return server.name;
}

} // namespace orvane
