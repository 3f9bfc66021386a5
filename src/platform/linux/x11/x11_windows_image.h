#pragma once

#include "platform/geometry.h"

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <vector>

namespace orvane {

// Pixels read from the screen, row by row, each 0x00RRGGBB.
struct ScreenPixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> rgb;
};

// Scales a frame of frameWidth x frameHeight pixels, of which `visible`
// covers the part from (offsetX, offsetY), to width x height, averaging the
// pixels each target pixel covers. Parts of the frame off the screen come out
// black. Returns BGRX bytes, 4 per pixel.
std::vector<unsigned char> scaleFrame(const ScreenPixels& visible, int offsetX, int offsetY,
                                      int frameWidth, int frameHeight, int width, int height);

// The parts of `frame` that the rectangles cover, each cut to the frame:
// where a picture of the screen shows other windows instead of this one.
std::vector<Rect> coveredParts(const Rect& frame, const std::vector<Rect>& above);

// The parts of `frame` off `screen`: up to four bands, or the whole frame.
std::vector<Rect> partsOutside(const Rect& frame, const Rect& screen);

// Paints the rectangles black, every pixel they touch. They are given in
// coordinates where the pixels' top left corner lies at (originX, originY).
void paintBlack(ScreenPixels& pixels, double originX, double originY,
                const std::vector<Rect>& parts);

// BGRX pixels as a baseline JPEG; nothing when the encoder refuses them.
std::optional<QByteArray> encodeJpeg(const std::vector<unsigned char>& bgrx, int width, int height,
                                     int quality);

} // namespace orvane
