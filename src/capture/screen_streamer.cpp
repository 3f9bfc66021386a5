#include "screen_streamer.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <climits>
#include <cmath>

namespace orvane {

namespace {

QString noDisplayText()
{
    return QCoreApplication::translate("ScreenStreamer", "No display found to share");
}

QString orFallback(const QString& reason)
{
    return reason.isEmpty()
               ? QCoreApplication::translate("ScreenStreamer", "The screen could not be captured")
               : reason;
}

// The rate the source is asked for; the settings allow any positive 64-bit
// value.
int rateOf(const ScreenStreamer::Settings& settings)
{
    return int(std::clamp<std::int64_t>(settings.framesPerSecond, 1, INT_MAX));
}

// The main display: the one marked so, else the first listed.
const CaptureDisplay* mainOf(const std::vector<CaptureDisplay>& displays)
{
    auto found = std::find_if(displays.begin(), displays.end(),
                              [](const CaptureDisplay& d) { return d.isMain; });
    if (found != displays.end())
        return &*found;
    return displays.empty() ? nullptr : &displays.front();
}

const CaptureDisplay* withID(const std::vector<CaptureDisplay>& displays, std::uint32_t id)
{
    auto found = std::find_if(displays.begin(), displays.end(),
                              [id](const CaptureDisplay& d) { return d.id == id; });
    return found == displays.end() ? nullptr : &*found;
}

} // namespace

struct ScreenStreamer::State {
    std::unique_ptr<ScreenCapture> source;
    FrameOutput output;
    bool isRunning = false;
    std::uint32_t displayID = 0;
    std::optional<CaptureDisplay> display;
    std::optional<Settings> currentSettings;
    std::optional<Settings> wantedSettings;
    bool isApplying = false;
    std::optional<std::uint32_t> preferredDisplayID;
    // The caller whose apply runs the loop, told when the loop ends.
    Completion applyDone;
    // Counts the source's streams, so a report of one that has ended is not
    // taken for the current one.
    std::uint64_t generation = 0;
};

ScreenStreamer::Size ScreenStreamer::makeConfiguration(const CaptureDisplay& display,
                                                       const Settings& settings)
{
    const double scale = display.scale > 0 && std::isfinite(display.scale) ? display.scale : 1;
    const double pointsWide = display.pixelWidth / scale;
    const double pointsHigh = display.pixelHeight / scale;
    if (display.pixelWidth <= 0 || display.pixelHeight <= 0 || settings.maxWidth <= 0)
        return {};
    const double width =
        std::min({std::trunc(2 * pointsWide), double(settings.maxWidth), double(INT_MAX)});
    if (width < 1)
        return {};
    return {int(width),
            int(std::min(std::trunc(width * pointsHigh / pointsWide), double(INT_MAX)))};
}

ScreenStreamer::ScreenStreamer(std::unique_ptr<ScreenCapture> source, QObject* parent)
    : QObject(parent), m_state(std::make_unique<State>())
{
    m_state->source = std::move(source);
    // mainOf points into the list, so the list must outlive the pointer.
    const std::vector<CaptureDisplay> displays = m_state->source->displays();
    if (const CaptureDisplay* main = mainOf(displays))
        m_state->displayID = main->id;
    m_state->output.onFrame = [this](std::shared_ptr<const Bytes> jpeg, std::uint64_t period) {
        QMetaObject::invokeMethod(
            this,
            [this, jpeg = std::move(jpeg), period]() mutable { deliver(std::move(jpeg), period); },
            Qt::QueuedConnection);
    };
}

ScreenStreamer::~ScreenStreamer()
{
    // The source's thread feeds the output, so it ends first.
    m_state->source->stop();
}

bool ScreenStreamer::isRunning() const
{
    return m_state->isRunning;
}

std::uint32_t ScreenStreamer::displayID() const
{
    return m_state->displayID;
}

std::optional<std::uint32_t> ScreenStreamer::preferredDisplayID() const
{
    return m_state->preferredDisplayID;
}

const std::optional<ScreenStreamer::Settings>& ScreenStreamer::currentSettings() const
{
    return m_state->currentSettings;
}

bool ScreenStreamer::available()
{
    return m_state->source->available();
}

void ScreenStreamer::apply(Settings settings, Completion done)
{
    State& s = *m_state;
    s.wantedSettings = settings;
    if (s.isApplying) {
        // The loop that runs takes the newest wish up.
        complete(std::move(done), std::nullopt);
        return;
    }
    s.isApplying = true;
    s.applyDone = std::move(done);
    applyStep();
}

// One turn of the apply loop. After each change of the source, the loop
// goes on from the event loop, so that the requests made meanwhile collapse
// into the newest one.
void ScreenStreamer::applyStep()
{
    State& s = *m_state;
    if (!s.wantedSettings) {
        endApply(std::nullopt);
        return;
    }
    const Settings taken = *s.wantedSettings;
    s.wantedSettings.reset();
    std::optional<QString> error;
    if (s.isRunning && s.display) {
        if (s.currentSettings == taken) {
            endApply(std::nullopt);
            return;
        }
        error = reconfigure(*s.display, taken);
        if (!error)
            s.currentSettings = taken;
    } else {
        error = start(taken);
    }
    if (error) {
        endApply(error);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this] { applyStep(); }, Qt::QueuedConnection);
}

void ScreenStreamer::endApply(std::optional<QString> error)
{
    m_state->isApplying = false;
    complete(std::exchange(m_state->applyDone, {}), std::move(error));
}

std::optional<QString> ScreenStreamer::start(const Settings& settings)
{
    State& s = *m_state;
    if (s.isRunning)
        return std::nullopt;
    const std::vector<CaptureDisplay> displays = s.source->displays();
    const CaptureDisplay* chosen = nullptr;
    if (s.preferredDisplayID)
        chosen = withID(displays, *s.preferredDisplayID);
    if (!chosen)
        chosen = mainOf(displays);
    if (!chosen)
        return noDisplayText();
    s.output.setWidth(makeConfiguration(*chosen, settings).width);
    s.output.reset();
    const std::uint64_t generation = ++s.generation;
    QString reason;
    if (!s.source->start(chosen->id, rateOf(settings), sinkFor(generation), &reason))
        return orFallback(reason);
    s.display = *chosen;
    s.currentSettings = settings;
    s.displayID = chosen->id;
    s.isRunning = true;
    return std::nullopt;
}

// Moves the running stream to `display` and `settings`; on failure it keeps
// what it had.
std::optional<QString> ScreenStreamer::reconfigure(const CaptureDisplay& display,
                                                   const Settings& settings)
{
    State& s = *m_state;
    s.output.setWidth(makeConfiguration(display, settings).width);
    QString reason;
    if (s.source->reconfigure(display.id, rateOf(settings), &reason))
        return std::nullopt;
    if (s.display && s.currentSettings)
        s.output.setWidth(makeConfiguration(*s.display, *s.currentSettings).width);
    return orFallback(reason);
}

void ScreenStreamer::stop()
{
    State& s = *m_state;
    s.wantedSettings.reset();
    if (!s.isRunning)
        return;
    s.currentSettings.reset();
    s.isRunning = false;
    ++s.generation;
    s.source->stop();
    // A stream's buffers are tens of megabytes on a large screen.
    s.output.release();
}

void ScreenStreamer::selectDisplay(std::uint32_t displayID, Completion done)
{
    State& s = *m_state;
    s.preferredDisplayID = displayID;
    if (!s.isRunning || !s.currentSettings || displayID == s.displayID) {
        complete(std::move(done), std::nullopt);
        return;
    }
    const std::vector<CaptureDisplay> displays = s.source->displays();
    const CaptureDisplay* target = withID(displays, displayID);
    if (!target) {
        complete(std::move(done), noDisplayText());
        return;
    }
    std::optional<QString> error = reconfigure(*target, *s.currentSettings);
    if (!error) {
        s.display = *target;
        s.displayID = displayID;
    }
    complete(std::move(done), std::move(error));
}

void ScreenStreamer::refresh()
{
    if (m_state->isRunning)
        m_state->source->refresh();
}

void ScreenStreamer::frameDone()
{
    m_state->output.frameDone();
}

// Called on the source's thread: pictures go straight to the output; what
// else the source says is handled on the main thread.
ScreenCapture::EventSink ScreenStreamer::sinkFor(std::uint64_t generation)
{
    FrameOutput* output = &m_state->output;
    return [this, output, generation](CaptureEvent event) {
        switch (event.status) {
        case CaptureEvent::Status::newContent:
            output->take(std::move(event.image));
            return;
        case CaptureEvent::Status::unchanged:
            return;
        case CaptureEvent::Status::displayGone:
        case CaptureEvent::Status::error:
            event.image = {};
            QMetaObject::invokeMethod(
                this, [this, generation, event] { sourceReported(generation, event); },
                Qt::QueuedConnection);
            return;
        }
    };
}

void ScreenStreamer::sourceReported(std::uint64_t generation, const CaptureEvent& event)
{
    if (generation != m_state->generation || !m_state->isRunning)
        return;
    if (event.status == CaptureEvent::Status::displayGone)
        displayGone();
    else
        stoppedBySource(orFallback(event.error));
}

// The captured display went away: the stream moves to the main display, so
// the phones keep watching; without any display it stops.
void ScreenStreamer::displayGone()
{
    State& s = *m_state;
    const std::vector<CaptureDisplay> displays = s.source->displays();
    if (withID(displays, s.displayID))
        return; // a report from before the stream moved
    const CaptureDisplay* fallback = mainOf(displays);
    if (!fallback || !s.currentSettings) {
        stoppedBySource(noDisplayText());
        return;
    }
    if (std::optional<QString> error = reconfigure(*fallback, *s.currentSettings)) {
        stoppedBySource(*error);
        return;
    }
    s.display = *fallback;
    s.displayID = fallback->id;
}

void ScreenStreamer::stoppedBySource(const QString& reason)
{
    State& s = *m_state;
    s.isRunning = false;
    s.currentSettings.reset();
    ++s.generation;
    s.source->stop();
    s.output.release();
    if (onStop)
        onStop(reason);
}

void ScreenStreamer::deliver(std::shared_ptr<const Bytes> jpeg, std::uint64_t period)
{
    // A picture of a stream that has been restarted since: its busy period
    // ended with the restart.
    if (period != m_state->output.period())
        return;
    if (onFrame)
        onFrame(std::move(jpeg));
    else
        frameDone(); // nobody takes pictures: the slot must not stay full
}

void ScreenStreamer::complete(Completion done, std::optional<QString> error)
{
    if (!done)
        return;
    QMetaObject::invokeMethod(
        this, [done = std::move(done), error = std::move(error)] { done(error); },
        Qt::QueuedConnection);
}

} // namespace orvane
