#include "x11_windows_image.h"

#include "x11_windows.h"

#include <turbojpeg.h>

#include <algorithm>
#include <bit>
#include <cmath>

namespace orvane {

namespace {

// Larger pictures are not thumbnails; refusing them bounds the memory a
// strange frame size can ask for.
constexpr std::int64_t maxPixels = std::int64_t(1) << 26;

// How the screen stores a pixel; only 8 bits per colour in 32-bit pixels
// (every depth-24 and depth-32 true-colour screen) is read.
struct PixelFormat {
    bool msbFirst = false;
    int redShift = 0, greenShift = 0, blueShift = 0;
};

std::optional<PixelFormat> rootPixelFormat(X11Connection& x11)
{
    const xcb_setup_t* setup = xcb_get_setup(x11.get());
    const xcb_screen_t* screen = x11.screen();
    int bitsPerPixel = 0;
    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f)) {
        if (f.data->depth == screen->root_depth)
            bitsPerPixel = f.data->bits_per_pixel;
    }
    if (bitsPerPixel != 32)
        return std::nullopt;
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d)) {
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
            const xcb_visualtype_t* visual = v.data;
            if (visual->visual_id != screen->root_visual)
                continue;
            const auto eightBits = [](std::uint32_t mask) {
                return std::popcount(mask) == 8 && (mask >> std::countr_zero(mask)) == 0xff;
            };
            if (!eightBits(visual->red_mask) || !eightBits(visual->green_mask) ||
                !eightBits(visual->blue_mask))
                return std::nullopt;
            return PixelFormat{setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST,
                               std::countr_zero(visual->red_mask),
                               std::countr_zero(visual->green_mask),
                               std::countr_zero(visual->blue_mask)};
        }
    }
    return std::nullopt;
}

std::optional<ScreenPixels> grabRoot(X11Connection& x11, int x, int y, int width, int height)
{
    const std::optional<PixelFormat> format = rootPixelFormat(x11);
    if (!format)
        return std::nullopt;
    xcb_connection_t* c = x11.get();
    xcb_generic_error_t* error = nullptr;
    XcbReply<xcb_get_image_reply_t> image(xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, x11.root(), std::int16_t(x), std::int16_t(y),
                      std::uint16_t(width), std::uint16_t(height), ~0u),
        &error));
    std::free(error);
    const std::size_t count = std::size_t(width) * std::size_t(height);
    if (!image || std::size_t(xcb_get_image_data_length(image.get())) < count * 4)
        return std::nullopt;
    const std::uint8_t* data = xcb_get_image_data(image.get());
    ScreenPixels out{width, height, std::vector<std::uint32_t>(count)};
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* b = data + i * 4;
        const std::uint32_t value =
            format->msbFirst ? (std::uint32_t(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3])
                             : (std::uint32_t(b[3]) << 24 | b[2] << 16 | b[1] << 8 | b[0]);
        out.rgb[i] = ((value >> format->redShift) & 0xff) << 16 |
                     ((value >> format->greenShift) & 0xff) << 8 |
                     ((value >> format->blueShift) & 0xff);
    }
    return out;
}

// The source pixels [first, last) that target pixel `i` of `count` covers
// along a side of `length` pixels; at least one.
std::pair<int, int> footprint(int i, int count, int length)
{
    const int first = int(std::int64_t(i) * length / count);
    const int last = int(std::int64_t(i + 1) * length / count);
    return {first, std::max(last, first + 1)};
}

std::uint32_t average(const ScreenPixels& visible, std::pair<int, int> xs, std::pair<int, int> ys)
{
    std::uint64_t red = 0, green = 0, blue = 0, n = 0;
    for (int y = ys.first; y < ys.second; ++y) {
        const std::uint32_t* row = visible.rgb.data() + std::size_t(y) * std::size_t(visible.width);
        for (int x = xs.first; x < xs.second; ++x) {
            red += row[x] >> 16 & 0xff;
            green += row[x] >> 8 & 0xff;
            blue += row[x] & 0xff;
            ++n;
        }
    }
    if (n == 0)
        return 0;
    return std::uint32_t(red / n) << 16 | std::uint32_t(green / n) << 8 | std::uint32_t(blue / n);
}

// A footprint in frame pixels, moved into the visible part and cut to it.
std::pair<int, int> clip(std::pair<int, int> range, int offset, int size)
{
    return {std::clamp(range.first - offset, 0, size), std::clamp(range.second - offset, 0, size)};
}

} // namespace

std::vector<unsigned char> scaleFrame(const ScreenPixels& visible, int offsetX, int offsetY,
                                      int frameWidth, int frameHeight, int width, int height)
{
    std::vector<unsigned char> out(std::size_t(width) * std::size_t(height) * 4, 0);
    for (int ty = 0; ty < height; ++ty) {
        const auto ys = clip(footprint(ty, height, frameHeight), offsetY, visible.height);
        for (int tx = 0; tx < width; ++tx) {
            const auto xs = clip(footprint(tx, width, frameWidth), offsetX, visible.width);
            const std::uint32_t rgb = average(visible, xs, ys);
            unsigned char* p = out.data() + (std::size_t(ty) * std::size_t(width) + tx) * 4;
            p[0] = rgb & 0xff;
            p[1] = rgb >> 8 & 0xff;
            p[2] = rgb >> 16 & 0xff;
            p[3] = 0xff;
        }
    }
    return out;
}

std::optional<QByteArray> encodeJpeg(const std::vector<unsigned char>& bgrx, int width, int height,
                                     int quality)
{
    if (width < 1 || height < 1 || bgrx.size() < std::size_t(width) * std::size_t(height) * 4)
        return std::nullopt;
    tjhandle encoder = tjInitCompress();
    if (!encoder)
        return std::nullopt;
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int status = tjCompress2(encoder, bgrx.data(), width, width * 4, height, TJPF_BGRX, &jpeg,
                                   &size, TJSAMP_420, std::clamp(quality, 1, 100), 0);
    std::optional<QByteArray> out;
    if (status == 0)
        out = QByteArray(reinterpret_cast<const char*>(jpeg), qsizetype(size));
    tjFree(jpeg);
    tjDestroy(encoder);
    return out;
}

// The window's frame is read from the screen, so it shows as the user sees
// it, decorations included. Without a compositor X keeps no pixels for the
// covered parts of a window: those show what covers them.
std::optional<QByteArray> X11WindowSystem::grabJpeg(std::uint32_t id, int width, int height,
                                                    int quality)
{
    if (width < 1 || height < 1 || std::int64_t(width) * height > maxPixels || width > 65535 ||
        height > 65535)
        return std::nullopt;
    const std::optional<Rect> frame = this->frame(id);
    if (!frame)
        return std::nullopt;
    const xcb_screen_t* screen = m_x11->screen();
    const long left = std::lround(frame->minX()), top = std::lround(frame->minY());
    const long right = std::lround(frame->maxX()), bottom = std::lround(frame->maxY());
    const long visibleLeft = std::max(left, 0L), visibleTop = std::max(top, 0L);
    const long visibleRight = std::min(right, long(screen->width_in_pixels));
    const long visibleBottom = std::min(bottom, long(screen->height_in_pixels));
    if (visibleRight <= visibleLeft || visibleBottom <= visibleTop)
        return std::nullopt; // wholly off the screen: nothing to read
    const std::optional<ScreenPixels> pixels =
        grabRoot(*m_x11, int(visibleLeft), int(visibleTop), int(visibleRight - visibleLeft),
                 int(visibleBottom - visibleTop));
    if (!pixels)
        return std::nullopt;
    return encodeJpeg(scaleFrame(*pixels, int(visibleLeft - left), int(visibleTop - top),
                                 int(right - left), int(bottom - top), width, height),
                      width, height, quality);
}

} // namespace orvane
