#include "stream_frames.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace orvane {

namespace {

// Where each of red, green, blue and alpha sits in a cursor pixel's bytes.
struct Order {
    int r, g, b, a;
};

Order orderOf(StreamFrames::CursorFormat format)
{
    switch (format) {
    case StreamFrames::CursorFormat::rgba:
        return {0, 1, 2, 3};
    case StreamFrames::CursorFormat::bgra:
        return {2, 1, 0, 3};
    case StreamFrames::CursorFormat::argb:
        return {1, 2, 3, 0};
    case StreamFrames::CursorFormat::abgr:
        break;
    }
    return {3, 2, 1, 0};
}

} // namespace

void StreamFrames::setSize(int width, int height)
{
    m_width = std::max(0, width);
    m_height = std::max(0, height);
    m_bytes = std::size_t(m_width) * std::size_t(m_height) * 4;
    m_hasScreen = false;
    // Pictures of the old size that are still held live on with their holders.
    m_pictures.clear();
    m_filling.reset();
    m_last.reset();
    m_under = {};
    owePicture();
}

void StreamFrames::takePixels(const std::uint8_t* rows, std::size_t stride, Clock::time_point at)
{
    const std::size_t row = std::size_t(m_width) * 4;
    if (row == 0 || !rows)
        return;
    if (!m_filling)
        m_filling = freePicture();
    if (!m_filling)
        return; // every picture is held: the encoder is behind, and the next frame will do
    std::uint8_t* to = m_filling->data();
    if (stride == row) {
        std::memcpy(to, rows, row * std::size_t(m_height));
    } else {
        for (int y = 0; y < m_height; ++y)
            std::memcpy(to + row * std::size_t(y), rows + stride * std::size_t(y), row);
    }
    m_hasScreen = true;
    m_screenAt = at;
    m_pacer.note(FramePacer::content);
}

void StreamFrames::moveCursor(int x, int y)
{
    if (m_cursor.x == x && m_cursor.y == y)
        return;
    m_cursor.x = x;
    m_cursor.y = y;
    if (m_cursor.visible)
        m_pacer.note(FramePacer::cursor);
}

bool StreamFrames::setCursorImage(const std::uint8_t* data, int width, int height,
                                  std::size_t stride, CursorFormat format, int hotX, int hotY)
{
    if (!data || width <= 0 || height <= 0 || width > maxCursorSide || height > maxCursorSide ||
        stride < std::size_t(width) * 4) {
        hideCursor();
        return false;
    }
    const Order o = orderOf(format);
    std::vector<std::uint32_t> argb(std::size_t(width) * std::size_t(height));
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* line = data + stride * std::size_t(y);
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = line + x * 4;
            const std::uint32_t a = p[o.a];
            // Premultiplied colour never exceeds its alpha; clamping keeps
            // a straight-alpha image from brightening what lies under it.
            const auto c = [&](int at) { return std::min<std::uint32_t>(p[at], a); };
            argb[std::size_t(y) * std::size_t(width) + std::size_t(x)] =
                a << 24 | c(o.r) << 16 | c(o.g) << 8 | c(o.b);
        }
    }
    const bool same = m_cursor.visible && m_cursor.width == width && m_cursor.height == height &&
                      m_cursor.hotX == hotX && m_cursor.hotY == hotY && m_cursor.argb == argb;
    m_cursor.visible = true;
    m_cursor.width = width;
    m_cursor.height = height;
    m_cursor.hotX = hotX;
    m_cursor.hotY = hotY;
    m_cursor.argb = std::move(argb);
    if (!same)
        m_pacer.note(FramePacer::cursor);
    return true;
}

void StreamFrames::hideCursor()
{
    if (m_cursor.visible)
        m_pacer.note(FramePacer::cursor);
    m_cursor.visible = false;
}

std::optional<StreamFrames::Clock::duration> StreamFrames::step(Clock::time_point now)
{
    if (!m_hasScreen)
        return std::nullopt; // the first frame brings the first picture
    const unsigned reasons = m_pacer.due(now);
    if (reasons) {
        if (Picture picture = nextPicture()) {
            drawCursor(picture->data());
            m_last = picture;
            m_pacer.taken(now);
            CaptureEvent event;
            event.image = {m_width,     m_height,
                           m_width * 4, picture->data(),
                           picture,     (reasons & FramePacer::content) ? m_screenAt : now};
            m_sink(std::move(event));
        } else {
            m_pacer.deferred(now); // every picture is held: the encoder is behind
        }
    }
    return m_pacer.wait(now);
}

StreamFrames::Picture StreamFrames::freePicture()
{
    for (const Picture& picture : m_pictures) {
        if (picture.use_count() == 1) {
            // Its last holder read it on another thread.
            std::atomic_thread_fence(std::memory_order_acquire);
            return picture;
        }
    }
    if (m_pictures.size() >= pictureCount)
        return nullptr;
    m_pictures.push_back(std::make_shared<std::vector<std::uint8_t>>(m_bytes));
    return m_pictures.back();
}

// The newest pixels, or else the last picture again without its cursor.
StreamFrames::Picture StreamFrames::nextPicture()
{
    if (m_filling)
        return std::exchange(m_filling, nullptr);
    Picture picture = m_last ? freePicture() : nullptr;
    if (!picture)
        return nullptr;
    std::memcpy(picture->data(), m_last->data(), m_bytes);
    auto* pixels = reinterpret_cast<std::uint32_t*>(picture->data());
    for (int y = 0; y < m_under.height; ++y)
        std::memcpy(pixels + std::size_t(m_under.y + y) * m_width + m_under.x,
                    m_under.pixels.data() + std::size_t(y) * m_under.width,
                    std::size_t(m_under.width) * 4);
    return picture;
}

// Source OVER destination, both premultiplied; the destination is opaque.
// What the cursor covers is kept first.
void StreamFrames::drawCursor(std::uint8_t* pixels)
{
    m_under.width = m_under.height = 0;
    if (!m_cursor.visible)
        return;
    const int left = m_cursor.x - m_cursor.hotX;
    const int top = m_cursor.y - m_cursor.hotY;
    const int x0 = std::max(0, left), x1 = std::min(m_width, left + m_cursor.width);
    const int y0 = std::max(0, top), y1 = std::min(m_height, top + m_cursor.height);
    if (x1 <= x0 || y1 <= y0)
        return;
    m_under = {x0, y0, x1 - x0, y1 - y0, std::move(m_under.pixels)};
    m_under.pixels.resize(std::size_t(m_under.width) * std::size_t(m_under.height));
    for (int y = y0; y < y1; ++y)
        std::memcpy(m_under.pixels.data() + std::size_t(y - y0) * m_under.width,
                    pixels + (std::size_t(y) * m_width + x0) * 4, std::size_t(m_under.width) * 4);
    for (int y = y0; y < y1; ++y) {
        auto* line = reinterpret_cast<std::uint32_t*>(pixels + std::size_t(y) * m_width * 4);
        const std::uint32_t* src =
            m_cursor.argb.data() + std::size_t(y - top) * std::size_t(m_cursor.width);
        for (int x = x0; x < x1; ++x) {
            const std::uint32_t s = src[x - left];
            const std::uint32_t a = s >> 24;
            if (a == 0)
                continue;
            const std::uint32_t d = line[x];
            std::uint32_t out = 0;
            for (int shift = 0; shift < 24; shift += 8) {
                const std::uint32_t blended =
                    ((s >> shift) & 0xff) + (((d >> shift) & 0xff) * (255 - a) + 127) / 255;
                out |= std::min<std::uint32_t>(blended, 255) << shift;
            }
            line[x] = out | (d & 0xff000000);
        }
    }
}

} // namespace orvane
