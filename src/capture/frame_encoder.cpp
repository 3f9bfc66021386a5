#include "frame_encoder.h"

#include "banded_jpeg.h"

#include <pixman.h>

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {

// Far beyond any screen, and small enough that no size computation below
// overflows.
constexpr int largestSide = 16384;

bool usable(const CapturedImage& image)
{
    return image.pixels && image.width > 0 && image.height > 0 && image.width <= largestSide &&
           image.height <= largestSide && image.stride >= image.width * 4 && image.stride % 4 == 0;
}

// Pixels of `from` scaled into `to` (width x height) by bilinear filtering,
// with Pixman's SIMD paths chosen for this CPU when the program starts.
// Edges are padded, so the border pixels are not darkened by the outside.
void scale(const CapturedImage& from, std::vector<std::uint32_t>& to, int width, int height)
{
    to.resize(std::size_t(width) * std::size_t(height));
    // Pixman only reads through the source image; its interface has no
    // const pointers.
    auto* rows = const_cast<std::uint32_t*>(reinterpret_cast<const std::uint32_t*>(from.pixels));
    pixman_image_t* src = pixman_image_create_bits_no_clear(PIXMAN_x8r8g8b8, from.width,
                                                            from.height, rows, from.stride);
    pixman_image_t* dst =
        pixman_image_create_bits_no_clear(PIXMAN_x8r8g8b8, width, height, to.data(), width * 4);
    pixman_transform_t transform;
    pixman_transform_init_scale(&transform,
                                pixman_double_to_fixed(double(from.width) / double(width)),
                                pixman_double_to_fixed(double(from.height) / double(height)));
    pixman_image_set_transform(src, &transform);
    pixman_image_set_filter(src, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    pixman_image_set_repeat(src, PIXMAN_REPEAT_PAD);
    pixman_image_composite32(PIXMAN_OP_SRC, src, nullptr, dst, 0, 0, 0, 0, 0, 0, width, height);
    pixman_image_unref(src);
    pixman_image_unref(dst);
}

CapturedImage view(const std::vector<std::uint32_t>& pixels, int width, int height)
{
    CapturedImage image;
    image.width = width;
    image.height = height;
    image.stride = width * 4;
    image.pixels = reinterpret_cast<const std::uint8_t*>(pixels.data());
    return image;
}

} // namespace

int heightKeepingShape(int width, int fromWidth, int fromHeight)
{
    if (width <= 0 || fromWidth <= 0 || fromHeight <= 0)
        return 0;
    const double height = std::trunc(double(width) * double(fromHeight) / double(fromWidth));
    return int(std::clamp(height, 1.0, double(largestSide)));
}

struct FrameEncoder::Buffers {
    BandedJpeg jpeg{quality};
    // Two for the halving steps, taking turns, and one for the result.
    std::vector<std::uint32_t> halves[2];
    std::vector<std::uint32_t> result;
};

FrameEncoder::FrameEncoder() : m_buffers(std::make_unique<Buffers>()) {}

FrameEncoder::~FrameEncoder() = default;

// Bilinear filtering reads 2 x 2 source pixels for each target pixel, so a
// shrink by more than two would skip pixels and let fine text flicker.
// Halving first (where bilinear filtering averages exactly 2 x 2 pixels)
// keeps every pixel counted, at the cost of a pass over a quarter of the
// picture.
std::optional<CapturedImage> FrameEncoder::scaled(const CapturedImage& image, int width)
{
    if (!usable(image) || width <= 0 || width > largestSide)
        return std::nullopt;
    if (width == image.width)
        return image;
    const int height = heightKeepingShape(width, image.width, image.height);
    CapturedImage current = image;
    int turn = 0;
    while (current.width / 2 >= width && current.height >= 2) {
        std::vector<std::uint32_t>& half = m_buffers->halves[turn];
        scale(current, half, current.width / 2, current.height / 2);
        current = view(half, current.width / 2, current.height / 2);
        turn ^= 1;
    }
    if (current.width == width && current.height == height)
        return current;
    scale(current, m_buffers->result, width, height);
    return view(m_buffers->result, width, height);
}

void FrameEncoder::release()
{
    Buffers& b = *m_buffers;
    for (std::vector<std::uint32_t>& half : b.halves)
        std::vector<std::uint32_t>().swap(half);
    std::vector<std::uint32_t>().swap(b.result);
    b.jpeg.release();
}

std::optional<Bytes> FrameEncoder::encode(const CapturedImage& image, int width)
{
    const std::optional<CapturedImage> sized = scaled(image, width);
    if (!sized)
        return std::nullopt;
    return m_buffers->jpeg.encode(*sized);
}

} // namespace orvane
