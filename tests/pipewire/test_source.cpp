#include "test_source.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <chrono>
#include <cstring>

namespace orvane::test {

namespace {

constexpr int maxCursorSide = 32;
constexpr int cursorMetaSize =
    sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + maxCursorSide * maxCursorSide * 4;
constexpr int waitSeconds = 5;

} // namespace

struct TestSource::Impl {
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    spa_hook listener{};
    int width = 0, height = 0;
    pw_stream_state state = PW_STREAM_STATE_UNCONNECTED;
    std::optional<TestSource::Frame> pending;

    // Waits on the loop's lock until `done`, at most a few seconds.
    template <class F> bool waitFor(F done)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
        while (!done() && std::chrono::steady_clock::now() < deadline)
            pw_thread_loop_timed_wait(loop, 1);
        return done();
    }
    void fill(spa_buffer* b, const Frame& frame);
};

namespace {

void fillCursor(spa_buffer* b, const std::optional<TestSource::Cursor>& cursor)
{
    auto* c = static_cast<spa_meta_cursor*>(
        spa_buffer_find_meta_data(b, SPA_META_Cursor, sizeof(spa_meta_cursor)));
    if (!c)
        return;
    c->id = cursor ? 1 : 0;
    if (!cursor)
        return;
    c->position = {cursor->x, cursor->y};
    c->hotspot = {cursor->hotX, cursor->hotY};
    c->bitmap_offset = sizeof(spa_meta_cursor);
    auto* bitmap = SPA_PTROFF(c, c->bitmap_offset, spa_meta_bitmap);
    bitmap->format = SPA_VIDEO_FORMAT_RGBA;
    bitmap->size = {std::uint32_t(cursor->side), std::uint32_t(cursor->side)};
    bitmap->stride = cursor->side * 4;
    bitmap->offset = sizeof(spa_meta_bitmap);
    auto* pixels = SPA_PTROFF(bitmap, bitmap->offset, std::uint8_t);
    for (int i = 0; i < cursor->side * cursor->side; ++i) {
        const std::uint8_t rgba[4] = {std::uint8_t(cursor->rgb >> 16),
                                      std::uint8_t(cursor->rgb >> 8), std::uint8_t(cursor->rgb),
                                      255};
        std::memcpy(pixels + i * 4, rgba, 4);
    }
}

void onProcess(void* data)
{
    auto* self = static_cast<TestSource::Impl*>(data);
    if (!self->pending)
        return;
    pw_buffer* buffer = pw_stream_dequeue_buffer(self->stream);
    if (!buffer)
        return;
    self->fill(buffer->buffer, *self->pending);
    pw_stream_queue_buffer(self->stream, buffer);
    self->pending.reset();
    pw_thread_loop_signal(self->loop, false);
}

void onStateChanged(void* data, pw_stream_state, pw_stream_state state, const char*)
{
    auto* self = static_cast<TestSource::Impl*>(data);
    self->state = state;
    pw_thread_loop_signal(self->loop, false);
}

void onParamChanged(void* data, std::uint32_t id, const spa_pod* param)
{
    auto* self = static_cast<TestSource::Impl*>(data);
    if (id != SPA_PARAM_Format || !param)
        return;
    std::uint8_t storage[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(storage, sizeof storage);
    const int stride = self->width * 4;
    const spa_pod* params[3];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
        SPA_PARAM_BUFFERS_size, SPA_POD_Int(stride * self->height), SPA_PARAM_BUFFERS_stride,
        SPA_POD_Int(stride), SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size, SPA_POD_Int(cursorMetaSize)));
    params[2] = static_cast<const spa_pod*>(
        spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
                                   SPA_PARAM_META_type, SPA_POD_Id(SPA_META_VideoDamage),
                                   SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_region) * 16)));
    pw_stream_update_params(self->stream, params, 3);
}

const pw_stream_events events = [] {
    pw_stream_events e{};
    e.version = PW_VERSION_STREAM_EVENTS;
    e.state_changed = onStateChanged;
    e.param_changed = onParamChanged;
    e.process = onProcess;
    return e;
}();

} // namespace

void TestSource::Impl::fill(spa_buffer* b, const Frame& frame)
{
    spa_data& d = b->datas[0];
    fillCursor(b, frame.cursor);
    if (auto* damage = static_cast<spa_meta_region*>(
            spa_buffer_find_meta_data(b, SPA_META_VideoDamage, sizeof(spa_meta_region)))) {
        damage->region = frame.damaged
                             ? spa_region{{0, 0}, {std::uint32_t(width), std::uint32_t(height)}}
                             : spa_region{};
    }
    d.chunk->offset = 0;
    d.chunk->stride = width * 4;
    d.chunk->size = 0;
    const std::size_t bytes = std::size_t(width) * std::size_t(height) * 4;
    if (frame.pixels && d.data && d.maxsize >= bytes) {
        std::memcpy(d.data, frame.pixels, bytes);
        d.chunk->size = std::uint32_t(bytes);
        return;
    }
    if (!frame.rgb || !d.data)
        return;
    auto* pixels = static_cast<std::uint32_t*>(d.data);
    for (int i = 0; i < width * height; ++i)
        pixels[i] = *frame.rgb;
    d.chunk->size = std::uint32_t(width * height * 4);
}

std::unique_ptr<TestSource> TestSource::start(int width, int height, std::string* error)
{
    pw_init(nullptr, nullptr);
    std::unique_ptr<TestSource> source(new TestSource);
    source->m_impl = std::make_unique<Impl>();
    Impl& impl = *source->m_impl;
    impl.width = width;
    impl.height = height;
    impl.loop = pw_thread_loop_new("test-source", nullptr);
    impl.context = pw_context_new(pw_thread_loop_get_loop(impl.loop), nullptr, 0);
    pw_thread_loop_start(impl.loop);
    pw_thread_loop_lock(impl.loop);
    impl.core = pw_context_connect(impl.context, nullptr, 0);
    if (!impl.core) {
        pw_thread_loop_unlock(impl.loop);
        *error = "no PipeWire daemon";
        return nullptr;
    }
    impl.stream = pw_stream_new(impl.core, "orvane-test-source",
                                pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", nullptr));
    pw_stream_add_listener(impl.stream, &impl.listener, &events, &impl);
    std::uint8_t storage[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(storage, sizeof storage);
    const spa_rectangle size{std::uint32_t(width), std::uint32_t(height)};
    const spa_fraction rate{0, 1}, most{60, 1};
    const auto* format = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_Id(SPA_VIDEO_FORMAT_BGRx), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate), SPA_FORMAT_VIDEO_maxFramerate,
        SPA_POD_CHOICE_RANGE_Fraction(&most, &rate, &most)));
    pw_stream_connect(impl.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, PW_STREAM_FLAG_MAP_BUFFERS,
                      &format, 1);
    const bool paused = impl.waitFor([&] { return impl.state == PW_STREAM_STATE_PAUSED; });
    pw_thread_loop_unlock(impl.loop);
    if (!paused || source->nodeId() == SPA_ID_INVALID) {
        *error = "the test source did not reach the daemon";
        return nullptr;
    }
    return source;
}

TestSource::~TestSource()
{
    if (!m_impl->loop)
        return;
    pw_thread_loop_stop(m_impl->loop);
    if (m_impl->stream)
        pw_stream_destroy(m_impl->stream);
    if (m_impl->core)
        pw_core_disconnect(m_impl->core);
    pw_context_destroy(m_impl->context);
    pw_thread_loop_destroy(m_impl->loop);
}

std::uint32_t TestSource::nodeId() const
{
    return pw_stream_get_node_id(m_impl->stream);
}

bool TestSource::send(const Frame& frame)
{
    Impl& impl = *m_impl;
    pw_thread_loop_lock(impl.loop);
    bool sent = impl.waitFor([&] { return impl.state == PW_STREAM_STATE_STREAMING; });
    // The graph's driver runs it; each cycle the source may send a frame.
    if (sent) {
        impl.pending = frame;
        sent = impl.waitFor([&] { return !impl.pending; });
    }
    impl.pending.reset();
    pw_thread_loop_unlock(impl.loop);
    return sent;
}

} // namespace orvane::test
