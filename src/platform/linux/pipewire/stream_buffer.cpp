#include "stream_buffer.h"

#include <spa/buffer/buffer.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/raw.h>

#include <algorithm>

namespace orvane {

namespace {

std::optional<StreamFrames::CursorFormat> cursorFormat(std::uint32_t format)
{
    switch (format) {
    case SPA_VIDEO_FORMAT_RGBA:
        return StreamFrames::CursorFormat::rgba;
    case SPA_VIDEO_FORMAT_BGRA:
        return StreamFrames::CursorFormat::bgra;
    case SPA_VIDEO_FORMAT_ARGB:
        return StreamFrames::CursorFormat::argb;
    case SPA_VIDEO_FORMAT_ABGR:
        return StreamFrames::CursorFormat::abgr;
    default:
        return std::nullopt;
    }
}

// Without damage metadata every frame counts as a change; with it, a frame
// whose list is empty changed nothing.
bool damaged(const spa_buffer& buffer)
{
    spa_meta* damage = spa_buffer_find_meta(const_cast<spa_buffer*>(&buffer), SPA_META_VideoDamage);
    if (!damage || damage->size < sizeof(spa_meta_region))
        return true;
    spa_meta_region* region = nullptr;
    spa_meta_for_each(region, damage)
    {
        if (spa_meta_region_is_valid(region))
            return true;
    }
    return false;
}

bool takePixels(const spa_data& data, StreamFrames& frames, StreamFrames::Clock::time_point now)
{
    const std::size_t row = std::size_t(frames.width()) * 4;
    const std::size_t stride = data.chunk->stride > 0 ? std::size_t(data.chunk->stride) : row;
    const std::size_t offset = data.chunk->offset % std::max<std::uint32_t>(data.maxsize, 1);
    const std::size_t needed =
        offset + stride * std::size_t(std::max(frames.height() - 1, 0)) + row;
    if (row == 0 || stride < row || needed > data.maxsize)
        return false; // a frame that does not fit its own buffer
    frames.takePixels(static_cast<const std::uint8_t*>(data.data) + offset, stride, now);
    return true;
}

// The image, when the metadata brings one: a bitmap with no pixels hides the
// cursor, a bitmap of format 0 leaves the image as it was.
void takeCursorImage(const spa_meta& meta, const spa_meta_cursor& c, StreamFrames& frames)
{
    if (c.bitmap_offset < sizeof(spa_meta_cursor) ||
        std::size_t(c.bitmap_offset) + sizeof(spa_meta_bitmap) > meta.size)
        return;
    const auto* base = static_cast<const std::uint8_t*>(meta.data) + c.bitmap_offset;
    const auto* bitmap = reinterpret_cast<const spa_meta_bitmap*>(base);
    if (bitmap->format == 0)
        return;
    const auto format = cursorFormat(bitmap->format);
    const std::size_t stride = bitmap->stride > 0 ? std::size_t(bitmap->stride) : 0;
    const std::size_t end = std::size_t(c.bitmap_offset) + std::size_t(bitmap->offset) +
                            stride * std::size_t(bitmap->size.height);
    if (bitmap->offset < sizeof(spa_meta_bitmap) || bitmap->size.width == 0 ||
        bitmap->size.height == 0 || !format || end > meta.size) {
        frames.hideCursor();
        return;
    }
    frames.setCursorImage(base + bitmap->offset, int(bitmap->size.width), int(bitmap->size.height),
                          stride, *format, c.hotspot.x, c.hotspot.y);
}

} // namespace

BufferNews readStreamBuffer(const spa_buffer& buffer, StreamFrames& frames,
                            StreamFrames::Clock::time_point now)
{
    BufferNews news;
    spa_meta* meta = spa_buffer_find_meta(const_cast<spa_buffer*>(&buffer), SPA_META_Cursor);
    if (meta && meta->data && meta->size >= sizeof(spa_meta_cursor)) {
        const auto& c = *static_cast<const spa_meta_cursor*>(meta->data);
        // An id of 0: nothing new about the cursor.
        if (spa_meta_cursor_is_valid(&c)) {
            takeCursorImage(*meta, c, frames);
            frames.moveCursor(c.position.x, c.position.y);
            news.cursor = true;
            news.cursorX = c.position.x;
            news.cursorY = c.position.y;
        }
    }
    if (buffer.n_datas == 0)
        return news;
    const spa_data& data = buffer.datas[0];
    if (data.type == SPA_DATA_DmaBuf) {
        news.dmaBuf = true;
        return news;
    }
    // An empty buffer only moves the cursor.
    if (data.data && data.chunk && data.chunk->size > 0 &&
        !(data.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) && damaged(buffer))
        news.pixels = takePixels(data, frames, now);
    return news;
}

} // namespace orvane
