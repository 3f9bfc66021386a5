#pragma once

#include "platform/screen_capture.h"
#include "protocol/types.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace orvane {

// Encodes the pictures of one stream as baseline JPEG (4:2:0, fast DCT) with
// a restart marker after every band of 16 rows. A band's coded bytes then
// depend on that band's pixels alone, so a band whose pixels did not change
// since the last picture keeps its bytes and is not encoded again. Typing,
// a moving pointer or a clock changes a band or two; the rest of the screen
// costs a comparison instead of an encode. The output is byte for byte what
// a fresh encode of the whole picture gives. One thread at a time.
class BandedJpeg {
public:
    static constexpr int bandHeight = 16;
    // Pictures encoded whole, without comparing, once one changed nearly
    // everywhere: half a second at 15 frames a second.
    static constexpr int wholeStreak = 8;

    explicit BandedJpeg(int quality);
    ~BandedJpeg();
    BandedJpeg(const BandedJpeg&) = delete;
    BandedJpeg& operator=(const BandedJpeg&) = delete;

    // The picture as a JPEG; nothing when it cannot be encoded.
    std::optional<Bytes> encode(const CapturedImage& image);
    // How many bands the last call encoded, out of how many.
    int bandsEncoded() const { return m_bandsEncoded; }
    int bandCount() const { return int(m_bands.size()); }
    // Frees what it keeps; the next picture is encoded whole.
    void release();

private:
    struct Coder;

    bool sameShape(const CapturedImage& image) const;
    void start(const CapturedImage& image);
    bool encodeChanged(const CapturedImage& image);
    bool bandChanged(const CapturedImage& image, int band) const;
    bool encodeBands(const CapturedImage& image, int first, int end);
    void keepPixels(const CapturedImage& image, int first, int end);
    Bytes assemble() const;

    std::unique_ptr<Coder> m_coder;
    int m_width = 0;
    int m_height = 0;
    Bytes m_header;                    // from the start of the file to the scan's data
    std::vector<Bytes> m_bands;        // each band's coded bytes, without its marker
    std::vector<std::uint8_t> m_shown; // the pixels the bands were coded from
    int m_bandsEncoded = 0;
    int m_wholeFrames = 0; // left to encode whole before comparing again
};

} // namespace orvane
