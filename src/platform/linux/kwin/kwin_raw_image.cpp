#include "kwin_raw_image.h"

#include <QMetaType>

#include <cstring>

namespace orvane {

namespace {

// QImage::Format numbers, as KWin sends them.
enum : qint64 {
    formatRgb32 = 4,
    formatArgb32 = 5,
    formatArgb32Premultiplied = 6,
    formatRgbx8888 = 16,
    formatRgba8888 = 17,
    formatRgba8888Premultiplied = 18,
};

// Rows of a QImage are padded to 4 bytes, which 32-bit pixels already are;
// a little slack keeps a future alignment from turning pictures away.
constexpr qint64 maxRowPadding = 64;

std::optional<qint64> whole(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return value.toLongLong();
    default:
        return std::nullopt; // a string or a double is not what KWin sends
    }
}

} // namespace

std::optional<KWinRawImage> kwinRawImage(const QVariantMap& results, int maxSide)
{
    const auto number = [&](const char* key) { return whole(results.value(QLatin1String(key))); };
    const auto width = number("width"), height = number("height"), stride = number("stride"),
               format = number("format");
    if (!width || !height || !stride || !format)
        return std::nullopt;
    if (*width < 1 || *height < 1 || *width > maxSide || *height > maxSide)
        return std::nullopt;
    if (*stride < *width * 4 || *stride > *width * 4 + maxRowPadding)
        return std::nullopt;
    KWinRawImage image{int(*width), int(*height), int(*stride), false};
    switch (*format) {
    case formatRgb32:
    case formatArgb32:
    case formatArgb32Premultiplied:
        return image;
    case formatRgbx8888:
    case formatRgba8888:
    case formatRgba8888Premultiplied:
        image.bytesRgba = true;
        return image;
    default:
        return std::nullopt;
    }
}

ScreenPixels kwinPixels(const KWinRawImage& image, const QByteArray& data)
{
    ScreenPixels pixels{image.width, image.height, {}};
    if (data.size() < image.bytes())
        return ScreenPixels{};
    pixels.rgb.reserve(std::size_t(image.width) * image.height);
    for (int y = 0; y < image.height; ++y) {
        const auto* row =
            reinterpret_cast<const unsigned char*>(data.constData()) + qint64(y) * image.stride;
        for (int x = 0; x < image.width; ++x) {
            const unsigned char* p = row + std::ptrdiff_t(x) * 4;
            if (image.bytesRgba) {
                pixels.rgb.push_back(std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2]);
            } else {
                std::uint32_t word;
                std::memcpy(&word, p, sizeof word);
                pixels.rgb.push_back(word & 0xFFFFFFu);
            }
        }
    }
    return pixels;
}

} // namespace orvane
