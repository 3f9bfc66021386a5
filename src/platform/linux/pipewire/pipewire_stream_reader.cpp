#include "pipewire_stream_reader.h"

#include "stream_buffer.h"

#include <QCoreApplication>
#include <QtGlobal>

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <fcntl.h>

#include <chrono>
#include <optional>

namespace orvane {

namespace {

using namespace std::chrono_literals;
using Clock = StreamFrames::Clock;

// A stream that shows nothing this long after it was asked for never will:
// the desktop streams the screen as it is at once.
constexpr auto firstFrameDeadline = 10s;
// Bigger than any screen; a size beyond is a broken stream.
constexpr int maxSide = 16384;

QString text(const char* sentence)
{
    return QCoreApplication::translate("PipeWireScreenCapture", sentence);
}

constexpr std::size_t cursorMetaSize(int side)
{
    return sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + std::size_t(side) * side * 4;
}

timespec after(Clock::duration wait)
{
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    // A zero time disarms a timer; the earliest moment is one nanosecond.
    const long long at = ns > 0 ? ns : 1;
    return {time_t(at / 1'000'000'000), long(at % 1'000'000'000)};
}

} // namespace

struct PipeWireStreamReader::Impl {
    Impl(ScreenCapture::EventSink sink, Ended ended, std::shared_ptr<StreamCursor> cursor)
        : frames(std::move(sink)), ended(std::move(ended)), cursor(std::move(cursor))
    {
    }

    pw_thread_loop* threadLoop = nullptr;
    pw_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_registry* registry = nullptr;
    pw_stream* stream = nullptr;
    spa_hook coreListener{};
    spa_hook registryListener{};
    spa_hook streamListener{};
    spa_source* wake = nullptr;   // the owner has news
    spa_source* pacing = nullptr; // the next picture may be due
    spa_source* deadline = nullptr;

    std::uint32_t nodeId = 0;
    std::uint32_t displayID = 0;
    StreamFrames frames;
    Ended ended;
    std::shared_ptr<StreamCursor> cursor;
    bool hasEnded = false;
    bool framed = false;  // a frame came
    bool closing = false; // the owner is tearing the stream down
    // From the owner, under the loop's lock.
    std::optional<int> newRate;
    bool refresh = false;

    void end(const QString& reason, bool lost)
    {
        if (hasEnded || closing)
            return;
        hasEnded = true;
        if (cursor)
            cursor->set(std::nullopt);
        ended(reason, lost);
    }
    void pump();
    void formatChanged(const spa_pod* param);
    void take(pw_buffer* buffer);
};

// Hands on a picture when one is due, and wakes up when the next may be.
void PipeWireStreamReader::Impl::pump()
{
    if (hasEnded)
        return;
    const std::optional<Clock::duration> wait = frames.step(Clock::now());
    if (wait) {
        timespec value = after(*wait);
        pw_loop_update_timer(loop, pacing, &value, nullptr, false);
    } else {
        pw_loop_update_timer(loop, pacing, nullptr, nullptr, false);
    }
}

void PipeWireStreamReader::Impl::formatChanged(const spa_pod* param)
{
    std::uint32_t mediaType = 0, mediaSubtype = 0;
    spa_video_info_raw info{};
    if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 ||
        mediaType != SPA_MEDIA_TYPE_video || mediaSubtype != SPA_MEDIA_SUBTYPE_raw ||
        spa_format_video_raw_parse(param, &info) < 0 ||
        (info.format != SPA_VIDEO_FORMAT_BGRx && info.format != SPA_VIDEO_FORMAT_BGRA) ||
        info.size.width == 0 || info.size.height == 0 || info.size.width > maxSide ||
        info.size.height > maxSide) {
        end(text("The display's pixel format cannot be captured"), false);
        return;
    }
    frames.setSize(int(info.size.width), int(info.size.height));
    std::uint8_t storage[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(storage, sizeof storage);
    const spa_pod* params[3];
    // Memory the stream's pixels can be read from; graphics memory only
    // when the desktop offers nothing else, and then it is refused.
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size,
        SPA_POD_CHOICE_RANGE_Int(int(cursorMetaSize(64)), int(cursorMetaSize(1)),
                                 int(cursorMetaSize(StreamFrames::maxCursorSide)))));
    params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_VideoDamage), SPA_PARAM_META_size,
        SPA_POD_CHOICE_RANGE_Int(int(sizeof(spa_meta_region) * 16), int(sizeof(spa_meta_region)),
                                 int(sizeof(spa_meta_region) * 16))));
    pw_stream_update_params(stream, params, 3);
}

void PipeWireStreamReader::Impl::take(pw_buffer* buffer)
{
    const BufferNews news = readStreamBuffer(*buffer->buffer, frames, Clock::now());
    if (news.dmaBuf) {
        qWarning("orvane: the screen stream offers only graphics memory (DmaBuf)");
        end(text("The screen could not be read"), false);
        return;
    }
    framed = framed || news.pixels;
    if (news.cursor && cursor) {
        cursor->set(frames.cursorVisible()
                        ? std::optional(StreamCursor::Seen{displayID, double(news.cursorX),
                                                           double(news.cursorY), frames.width(),
                                                           frames.height()})
                        : std::nullopt);
    }
}

namespace {

using Impl = PipeWireStreamReader::Impl;

QString lostText()
{
    return text("The connection to the display was lost");
}

void onProcess(void* data)
{
    auto* self = static_cast<Impl*>(data);
    // Every buffer is read and given back at once; the newest pixels win.
    while (pw_buffer* buffer = pw_stream_dequeue_buffer(self->stream)) {
        if (!self->hasEnded)
            self->take(buffer);
        pw_stream_queue_buffer(self->stream, buffer);
    }
    self->pump();
}

void onParamChanged(void* data, std::uint32_t id, const spa_pod* param)
{
    if (id == SPA_PARAM_Format && param)
        static_cast<Impl*>(data)->formatChanged(param);
}

void onStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error)
{
    auto* self = static_cast<Impl*>(data);
    if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) {
        if (error && !self->closing)
            qWarning("orvane: the screen stream ended: %s", error);
        self->end(lostText(), true);
    }
}

void onGlobalRemoved(void* data, std::uint32_t id)
{
    auto* self = static_cast<Impl*>(data);
    if (id == self->nodeId)
        self->end(lostText(), true);
}

void onCoreError(void* data, std::uint32_t id, int, int res, const char* message)
{
    if (id == PW_ID_CORE && res == -EPIPE) {
        qWarning("orvane: PipeWire went away: %s", message ? message : "");
        static_cast<Impl*>(data)->end(lostText(), true);
    }
}

void onWake(void* data, std::uint64_t)
{
    auto* self = static_cast<Impl*>(data);
    if (self->newRate)
        self->frames.setRate(*std::exchange(self->newRate, std::nullopt));
    if (std::exchange(self->refresh, false))
        self->frames.owePicture();
    self->pump();
}

void onPacing(void* data, std::uint64_t)
{
    static_cast<Impl*>(data)->pump();
}

void onDeadline(void* data, std::uint64_t)
{
    auto* self = static_cast<Impl*>(data);
    if (!self->framed)
        self->end(text("The display did not answer"), false);
}

const pw_stream_events streamEvents = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = onStateChanged;
    events.param_changed = onParamChanged;
    events.process = onProcess;
    return events;
}();

const pw_registry_events registryEvents = [] {
    pw_registry_events events{};
    events.version = PW_VERSION_REGISTRY_EVENTS;
    events.global_remove = onGlobalRemoved;
    return events;
}();

const pw_core_events coreEvents = [] {
    pw_core_events events{};
    events.version = PW_VERSION_CORE_EVENTS;
    events.error = onCoreError;
    return events;
}();

// Any size and rate, in the two byte orders pictures are handed on in.
bool connectStream(Impl& impl)
{
    impl.stream = pw_stream_new(impl.core, "orvane-screen",
                                pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                                  "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (!impl.stream)
        return false;
    pw_stream_add_listener(impl.stream, &impl.streamListener, &streamEvents, &impl);
    std::uint8_t storage[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(storage, sizeof storage);
    const spa_rectangle size{1920, 1080}, smallest{1, 1}, largest{maxSide, maxSide};
    const spa_fraction rate{60, 1}, slowest{0, 1}, fastest{1000, 1};
    const auto* format = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(3, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                               SPA_VIDEO_FORMAT_BGRA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&size, &smallest, &largest),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&rate, &slowest, &fastest)));
    const auto flags = pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                       PW_STREAM_FLAG_DONT_RECONNECT);
    return pw_stream_connect(impl.stream, PW_DIRECTION_INPUT, impl.nodeId, flags, &format, 1) >= 0;
}

} // namespace

std::unique_ptr<PipeWireStreamReader>
PipeWireStreamReader::open(const Target& target, ScreenCapture::EventSink sink, Ended ended,
                           std::shared_ptr<StreamCursor> cursor, QString* error)
{
    pw_init(nullptr, nullptr);
    std::unique_ptr<PipeWireStreamReader> reader(new PipeWireStreamReader);
    reader->m_impl = std::make_unique<Impl>(std::move(sink), std::move(ended), std::move(cursor));
    Impl& impl = *reader->m_impl;
    impl.nodeId = target.stream.nodeId;
    impl.displayID = target.displayID;
    impl.frames.setRate(target.framesPerSecond);
    impl.threadLoop = pw_thread_loop_new("orvane-screen", nullptr);
    if (!impl.threadLoop) {
        *error = text("The display cannot be reached");
        return nullptr;
    }
    impl.loop = pw_thread_loop_get_loop(impl.threadLoop);
    impl.wake = pw_loop_add_event(impl.loop, onWake, &impl);
    impl.pacing = pw_loop_add_timer(impl.loop, onPacing, &impl);
    impl.deadline = pw_loop_add_timer(impl.loop, onDeadline, &impl);
    impl.context = pw_context_new(impl.loop, nullptr, 0);
    if (!impl.context || pw_thread_loop_start(impl.threadLoop) < 0) {
        *error = text("The display cannot be reached");
        return nullptr;
    }
    pw_thread_loop_lock(impl.threadLoop);
    const int fd = target.stream.pipewireFd;
    impl.core = fd >= 0
                    ? pw_context_connect_fd(impl.context, fcntl(fd, F_DUPFD_CLOEXEC, 3), nullptr, 0)
                    : pw_context_connect(impl.context, nullptr, 0);
    bool connected = false;
    if (impl.core) {
        pw_core_add_listener(impl.core, &impl.coreListener, &coreEvents, &impl);
        impl.registry = pw_core_get_registry(impl.core, PW_VERSION_REGISTRY, 0);
        pw_registry_add_listener(impl.registry, &impl.registryListener, &registryEvents, &impl);
        connected = connectStream(impl);
        timespec value = after(firstFrameDeadline);
        pw_loop_update_timer(impl.loop, impl.deadline, &value, nullptr, false);
    }
    pw_thread_loop_unlock(impl.threadLoop);
    if (!connected) {
        *error = text("The display cannot be reached");
        return nullptr;
    }
    return reader;
}

PipeWireStreamReader::~PipeWireStreamReader()
{
    Impl& impl = *m_impl;
    if (!impl.threadLoop)
        return;
    pw_thread_loop_lock(impl.threadLoop);
    impl.closing = true;
    pw_thread_loop_unlock(impl.threadLoop);
    // After the thread stopped, nothing runs on the loop but what follows.
    pw_thread_loop_stop(impl.threadLoop);
    if (impl.stream)
        pw_stream_destroy(impl.stream);
    if (impl.registry)
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(impl.registry));
    if (impl.core)
        pw_core_disconnect(impl.core);
    if (impl.context)
        pw_context_destroy(impl.context);
    for (spa_source* source : {impl.wake, impl.pacing, impl.deadline}) {
        if (source)
            pw_loop_destroy_source(impl.loop, source);
    }
    pw_thread_loop_destroy(impl.threadLoop);
}

void PipeWireStreamReader::setRate(int framesPerSecond)
{
    pw_thread_loop_lock(m_impl->threadLoop);
    m_impl->newRate = framesPerSecond;
    m_impl->refresh = true;
    pw_loop_signal_event(m_impl->loop, m_impl->wake);
    pw_thread_loop_unlock(m_impl->threadLoop);
}

void PipeWireStreamReader::refresh()
{
    pw_thread_loop_lock(m_impl->threadLoop);
    m_impl->refresh = true;
    pw_loop_signal_event(m_impl->loop, m_impl->wake);
    pw_thread_loop_unlock(m_impl->threadLoop);
}

} // namespace orvane
