#pragma once

#include "protocol/types.h"

#include <turbojpeg.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace orvane::test {

// A decoded JPEG, 0xRRGGBB per pixel.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> rgb;

    std::uint32_t at(int x, int y) const { return rgb[std::size_t(y) * std::size_t(width) + x]; }

    static Picture decode(const Bytes& jpeg)
    {
        Picture picture;
        tjhandle decoder = tjInitDecompress();
        int subsampling = 0, colourspace = 0;
        if (tjDecompressHeader3(decoder, jpeg.data(), jpeg.size(), &picture.width, &picture.height,
                                &subsampling, &colourspace) == 0) {
            picture.rgb.resize(std::size_t(picture.width) * std::size_t(picture.height));
            if (tjDecompress2(decoder, jpeg.data(), jpeg.size(),
                              reinterpret_cast<unsigned char*>(picture.rgb.data()), picture.width,
                              0, picture.height, TJPF_BGRX, 0) != 0)
                picture = {};
        }
        tjDestroy(decoder);
        for (std::uint32_t& pixel : picture.rgb)
            pixel &= 0xffffff;
        return picture;
    }
};

// Colours equal within what JPEG at quality 55 changes in a flat area.
inline bool near(std::uint32_t a, std::uint32_t b, int tolerance = 24)
{
    for (int shift : {0, 8, 16}) {
        if (std::abs(int((a >> shift) & 0xff) - int((b >> shift) & 0xff)) > tolerance)
            return false;
    }
    return true;
}

} // namespace orvane::test
