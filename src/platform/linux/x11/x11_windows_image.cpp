#include "x11_windows_image.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {

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

std::vector<Rect> coveredParts(const Rect& frame, const std::vector<Rect>& above)
{
    std::vector<Rect> out;
    for (const Rect& window : above) {
        const Rect covered = frame.intersected(window);
        if (!covered.isNull())
            out.push_back(covered);
    }
    return out;
}

std::vector<Rect> partsOutside(const Rect& frame, const Rect& screen)
{
    const Rect inside = frame.intersected(screen);
    if (inside.isNull())
        return frame.isNull() ? std::vector<Rect>{} : std::vector<Rect>{frame};
    std::vector<Rect> bands = {
        {frame.x, frame.y, frame.width, inside.y - frame.y},                    // above
        {frame.x, inside.maxY(), frame.width, frame.maxY() - inside.maxY()},    // below
        {frame.x, inside.y, inside.x - frame.x, inside.height},                 // left
        {inside.maxX(), inside.y, frame.maxX() - inside.maxX(), inside.height}, // right
    };
    std::erase_if(bands, [](const Rect& band) { return band.isNull(); });
    return bands;
}

void paintBlack(ScreenPixels& pixels, double originX, double originY,
                const std::vector<Rect>& parts)
{
    if (pixels.rgb.size() < std::size_t(pixels.width) * std::size_t(pixels.height))
        return;
    // Outwards to whole pixels: a pixel partly covered shows some of it.
    const auto pixel = [](double v, double origin, int size, bool end) {
        const double shifted = v - origin;
        return int(std::clamp(end ? std::ceil(shifted) : std::floor(shifted), 0.0, double(size)));
    };
    for (const Rect& part : parts) {
        const int left = pixel(part.minX(), originX, pixels.width, false);
        const int right = std::max(left, pixel(part.maxX(), originX, pixels.width, true));
        const int bottom = pixel(part.maxY(), originY, pixels.height, true);
        for (int y = pixel(part.minY(), originY, pixels.height, false); y < bottom; ++y) {
            const auto start = pixels.rgb.begin() + std::ptrdiff_t(y) * pixels.width;
            std::fill(start + left, start + right, 0u);
        }
    }
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

} // namespace orvane
