#pragma once

#include "platform/linux/x11/x11_windows_image.h"

#include <QByteArray>
#include <QVariantMap>

#include <optional>

namespace orvane {

// The layout of a picture KWin writes into a pipe, as its answer gives it.
struct KWinRawImage {
    int width = 0;
    int height = 0;
    int stride = 0;         // bytes from one row to the next
    bool bytesRgba = false; // R, G, B, A in memory; otherwise a native 0xAARRGGBB word
    qint64 bytes() const { return qint64(stride) * height; }
};

// The layout in KWin's answer, or nothing for one we cannot read: a format
// other than 32 bits a pixel, a side over `maxSide`, or rows too short or
// much longer than the width needs.
std::optional<KWinRawImage> kwinRawImage(const QVariantMap& results, int maxSide = 8192);

// The pixels of `data`, which holds at least image.bytes() bytes.
ScreenPixels kwinPixels(const KWinRawImage& image, const QByteArray& data);

} // namespace orvane
