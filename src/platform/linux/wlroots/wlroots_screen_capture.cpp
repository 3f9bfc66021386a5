#include "wlroots_screen_capture.h"

#include "shm_frame.h"
#include "wayland_connection.h"
#include "wayland_outputs.h"

#include "wlr-screencopy-unstable-v1-client-protocol.h"

#include <QObject>
#include <QTimer>

#include <wayland-client.h>

#include <algorithm>
#include <optional>

namespace orvane {

namespace {

using Clock = std::chrono::steady_clock;

// After a copy that failed or had nowhere to go, the next try waits this
// long, so that a stuck desktop or consumer does not make us spin.
constexpr int retryMs = 100;

class WlrootsScreenCapture final : public ScreenCapture {
public:
    explicit WlrootsScreenCapture(std::shared_ptr<WaylandConnection> connection);
    ~WlrootsScreenCapture() override;

    bool available() override;
    std::vector<CaptureDisplay> displays() override;
    bool start(std::uint32_t displayID, int framesPerSecond, EventSink onEvent,
               QString* error) override;
    bool reconfigure(std::uint32_t displayID, int framesPerSecond, QString* error) override;
    void refresh() override;
    void stop() override;

    static void buffer(void* data, zwlr_screencopy_frame_v1* frame, std::uint32_t format,
                       std::uint32_t width, std::uint32_t height, std::uint32_t stride);
    static void flags(void*, zwlr_screencopy_frame_v1*, std::uint32_t) {}
    static void ready(void* data, zwlr_screencopy_frame_v1* frame, std::uint32_t, std::uint32_t,
                      std::uint32_t);
    static void failed(void* data, zwlr_screencopy_frame_v1* frame);
    static void damage(void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t,
                       std::uint32_t, std::uint32_t)
    {
    }

private:
    void setUp();
    void request(bool onlyChanged);
    void dropFrame();
    void scheduleNext(int atLeastMs = 0);
    void report(CaptureEvent::Status status, const QString& error = {});

    std::shared_ptr<WaylandConnection> m_connection;
    QObject m_context;
    zwlr_screencopy_manager_v1* m_manager = nullptr;
    wl_shm* m_shm = nullptr;
    std::unique_ptr<WaylandOutputs> m_outputs;
    std::unique_ptr<ShmFramePool> m_pool;
    EventSink m_sink;
    std::uint32_t m_display = 0;
    int m_framesPerSecond = 1;
    bool m_running = false;
    zwlr_screencopy_frame_v1* m_frame = nullptr;
    bool m_frameOnlyChanged = false;
    std::shared_ptr<ShmFrame> m_target; // what the frame in flight is copied into
    Clock::time_point m_requestedAt{};
    Clock::time_point m_lastPicture{};
    QTimer m_next;
};

constexpr zwlr_screencopy_frame_v1_listener frameListener{
    &WlrootsScreenCapture::buffer,
    &WlrootsScreenCapture::flags,
    &WlrootsScreenCapture::ready,
    &WlrootsScreenCapture::failed,
    &WlrootsScreenCapture::damage,
    nullptr,
    nullptr}; // events of version 3, which we do not bind

WlrootsScreenCapture::WlrootsScreenCapture(std::shared_ptr<WaylandConnection> connection)
    : m_connection(std::move(connection))
{
    m_next.setSingleShot(true);
    m_next.callOnTimeout(&m_context, [this] { request(true); });
    m_connection->whenSynced(&m_context, [this](bool connected) {
        if (connected)
            setUp();
    });
    QObject::connect(m_connection.get(), &WaylandConnection::globalRemoved, &m_context,
                     [this](std::uint32_t name) {
                         if (!m_outputs || !m_outputs->find(name))
                             return;
                         if (m_running && name == m_display) {
                             stop();
                             report(CaptureEvent::Status::displayGone);
                         }
                         m_outputs->remove(name);
                     });
    QObject::connect(m_connection.get(), &WaylandConnection::lost, &m_context, [this] {
        if (m_running)
            report(CaptureEvent::Status::error, QStringLiteral("The desktop went away"));
        m_running = false;
    });
}

WlrootsScreenCapture::~WlrootsScreenCapture()
{
    dropFrame();
    m_pool.reset();
    m_outputs.reset();
    if (m_manager)
        zwlr_screencopy_manager_v1_destroy(m_manager);
    if (m_shm)
        wl_shm_destroy(m_shm);
    m_connection->flush();
}

void WlrootsScreenCapture::setUp()
{
    // Version 2 copies only once the output has changed; version 3 adds
    // graphics buffers, which we do not use.
    m_manager = static_cast<zwlr_screencopy_manager_v1*>(
        m_connection->bind(zwlr_screencopy_manager_v1_interface, 2));
    m_shm = static_cast<wl_shm*>(m_connection->bind(wl_shm_interface, 1));
    m_outputs = std::make_unique<WaylandOutputs>(*m_connection);
    if (m_shm)
        m_pool = std::make_unique<ShmFramePool>(m_shm);
}

bool WlrootsScreenCapture::available()
{
    return m_connection->isConnected() && m_manager && m_pool && m_outputs &&
           !m_outputs->known().empty();
}

std::vector<CaptureDisplay> WlrootsScreenCapture::displays()
{
    std::vector<CaptureDisplay> displays;
    if (!available())
        return displays;
    for (const WaylandOutputs::Output* output : m_outputs->known())
        displays.push_back({output->id, output->pixelWidth, output->pixelHeight,
                            double(output->scale), displays.empty()});
    return displays;
}

bool WlrootsScreenCapture::start(std::uint32_t displayID, int framesPerSecond, EventSink onEvent,
                                 QString* error)
{
    m_sink = std::move(onEvent);
    return reconfigure(displayID, framesPerSecond, error);
}

bool WlrootsScreenCapture::reconfigure(std::uint32_t displayID, int framesPerSecond, QString* error)
{
    if (!available() || !m_outputs->find(displayID)) {
        if (error)
            *error = QStringLiteral("That display cannot be captured");
        return false;
    }
    m_display = displayID;
    m_framesPerSecond = std::clamp(framesPerSecond, 1, 120);
    m_running = true;
    dropFrame();
    request(false);
    return true;
}

void WlrootsScreenCapture::refresh()
{
    if (!m_running)
        return;
    // A copy waiting for a change is replaced by one that is not.
    if (m_frame && !m_frameOnlyChanged)
        return;
    dropFrame();
    request(false);
}

void WlrootsScreenCapture::stop()
{
    m_running = false;
    m_next.stop();
    dropFrame();
}

void WlrootsScreenCapture::request(bool onlyChanged)
{
    const WaylandOutputs::Output* output = m_outputs ? m_outputs->find(m_display) : nullptr;
    if (!m_running || m_frame || !output)
        return;
    m_next.stop();
    m_frameOnlyChanged = onlyChanged;
    m_requestedAt = Clock::now();
    // The cursor drawn in, as the phone shows it.
    m_frame = zwlr_screencopy_manager_v1_capture_output(m_manager, 1, output->output);
    zwlr_screencopy_frame_v1_add_listener(m_frame, &frameListener, this);
    m_connection->flush();
}

void WlrootsScreenCapture::dropFrame()
{
    if (m_frame)
        zwlr_screencopy_frame_v1_destroy(m_frame);
    m_frame = nullptr;
    m_target.reset();
}

void WlrootsScreenCapture::buffer(void* data, zwlr_screencopy_frame_v1* frame, std::uint32_t format,
                                  std::uint32_t width, std::uint32_t height, std::uint32_t stride)
{
    auto* self = static_cast<WlrootsScreenCapture*>(data);
    if (frame != self->m_frame || self->m_target)
        return;
    // Only the layouts that are already blue, green, red and a spare byte.
    if (format != WL_SHM_FORMAT_XRGB8888 && format != WL_SHM_FORMAT_ARGB8888) {
        self->stop();
        return self->report(
            CaptureEvent::Status::error,
            QStringLiteral("The desktop offers pictures in a format we cannot read"));
    }
    self->m_target = self->m_pool->take(int(width), int(height), int(stride), format);
    if (!self->m_target) {
        // Every buffer is still held downstream: try again shortly.
        self->dropFrame();
        self->scheduleNext(retryMs);
        return;
    }
    if (self->m_frameOnlyChanged)
        zwlr_screencopy_frame_v1_copy_with_damage(frame, self->m_target->buffer);
    else
        zwlr_screencopy_frame_v1_copy(frame, self->m_target->buffer);
    self->m_connection->flush();
}

void WlrootsScreenCapture::ready(void* data, zwlr_screencopy_frame_v1* frame, std::uint32_t,
                                 std::uint32_t, std::uint32_t)
{
    auto* self = static_cast<WlrootsScreenCapture*>(data);
    if (frame != self->m_frame || !self->m_target)
        return;
    const std::shared_ptr<ShmFrame> target = self->m_target;
    self->dropFrame();
    self->m_lastPicture = Clock::now();
    CaptureEvent event;
    event.image = {target->width,
                   target->height,
                   target->stride,
                   target->pixels(),
                   std::shared_ptr<const void>(target, target->pixels()),
                   self->m_requestedAt};
    if (self->m_sink)
        self->m_sink(std::move(event));
    self->scheduleNext();
}

void WlrootsScreenCapture::failed(void* data, zwlr_screencopy_frame_v1* frame)
{
    auto* self = static_cast<WlrootsScreenCapture*>(data);
    if (frame != self->m_frame)
        return;
    self->dropFrame();
    if (!self->m_outputs->find(self->m_display)) {
        self->stop();
        return self->report(CaptureEvent::Status::displayGone);
    }
    self->scheduleNext(retryMs);
}

// The next picture no sooner than the rate allows after the last one.
void WlrootsScreenCapture::scheduleNext(int atLeastMs)
{
    if (!m_running)
        return;
    const auto interval = std::chrono::milliseconds(1000 / m_framesPerSecond);
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
        m_lastPicture + interval - Clock::now());
    m_next.start(int(std::max<std::int64_t>(wait.count(), atLeastMs)));
}

void WlrootsScreenCapture::report(CaptureEvent::Status status, const QString& error)
{
    if (!m_sink)
        return;
    CaptureEvent event;
    event.status = status;
    event.error = error;
    m_sink(std::move(event));
}

} // namespace

std::unique_ptr<ScreenCapture>
makeWlrootsScreenCapture(std::shared_ptr<WaylandConnection> connection)
{
    return std::make_unique<WlrootsScreenCapture>(std::move(connection));
}

} // namespace orvane
