#pragma once

// The size a JPEG declares, read from its start-of-frame segment, for tests
// that check the size of a picture without decoding it.
#include <cstdint>
#include <utility>
#include <vector>

namespace orvane::test {

// Width and height; 0 x 0 when no start of frame is found.
inline std::pair<int, int> jpegSize(const std::vector<std::uint8_t>& jpeg)
{
    std::size_t i = 2; // past the start-of-image marker
    while (i + 8 < jpeg.size() && jpeg[i] == 0xff) {
        const std::uint8_t marker = jpeg[i + 1];
        if (marker == 0xc0 || marker == 0xc1 || marker == 0xc2)
            return {jpeg[i + 7] << 8 | jpeg[i + 8], jpeg[i + 5] << 8 | jpeg[i + 6]};
        i += 2 + std::size_t(jpeg[i + 2] << 8 | jpeg[i + 3]);
    }
    return {0, 0};
}

} // namespace orvane::test
