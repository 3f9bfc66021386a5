#include "banded_jpeg.h"

// jpeglib.h uses FILE and size_t without including their headers.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>

namespace orvane {

namespace {

constexpr std::uint8_t marker = 0xff;
constexpr std::uint8_t firstRestart = 0xd0; // RST0; RST7 is 0xd7
constexpr std::uint8_t endOfImage = 0xd9;
constexpr std::uint8_t startOfScan = 0xda;

// Where the coded data of the scan starts, just after the scan's header; 0
// when the file does not have that shape.
std::size_t scanData(const Bytes& jpeg)
{
    std::size_t at = 2; // after the start-of-image marker
    while (at + 4 <= jpeg.size() && jpeg[at] == marker) {
        const std::size_t length = (std::size_t(jpeg[at + 2]) << 8) | jpeg[at + 3];
        if (jpeg[at + 1] == startOfScan)
            return at + 2 + length < jpeg.size() ? at + 2 + length : 0;
        at += 2 + length;
    }
    return 0;
}

// The coded data from `from` on, cut at each restart marker and at the end
// of the image into bands[first] … bands[first + count - 1]. Inside coded
// data a 0xff byte is always followed by 0x00, so every other 0xff starts a
// marker.
bool splitAtRestarts(const Bytes& jpeg, std::size_t from, std::vector<Bytes>& bands, int first,
                     int count)
{
    const std::uint8_t* data = jpeg.data();
    int band = first;
    std::size_t start = from;
    std::size_t at = from;
    while (at + 1 < jpeg.size()) {
        const auto* found =
            static_cast<const std::uint8_t*>(std::memchr(data + at, marker, jpeg.size() - 1 - at));
        if (!found)
            return false;
        at = std::size_t(found - data);
        const std::uint8_t kind = data[at + 1];
        if (kind == 0) {
            at += 2;
            continue;
        }
        const bool restart = kind >= firstRestart && kind < firstRestart + 8;
        if ((!restart && kind != endOfImage) || band == first + count)
            return false;
        bands[std::size_t(band++)].assign(data + start, data + at);
        if (kind == endOfImage)
            return band == first + count;
        at += 2;
        start = at;
    }
    return false;
}

} // namespace

// libjpeg with its failures turned into return values and its output kept
// in a buffer that is reused from one picture to the next.
struct BandedJpeg::Coder {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    jpeg_destination_mgr destination{};
    std::jmp_buf failed{};
    bool ready = false;
    int quality = 0;
    Bytes out;
    std::vector<JSAMPROW> rows;

    explicit Coder(int q) : quality(q)
    {
        info.err = jpeg_std_error(&errors);
        errors.error_exit = [](j_common_ptr common) {
            std::longjmp(static_cast<Coder*>(common->client_data)->failed, 1);
        };
        errors.output_message = [](j_common_ptr) {}; // warnings are not for the terminal
        info.client_data = this;
        if (setjmp(failed))
            return;
        jpeg_create_compress(&info);
        destination.init_destination = [](j_compress_ptr c) {
            Coder& coder = *static_cast<Coder*>(c->client_data);
            coder.out.resize(std::max<std::size_t>(coder.out.capacity(), 64 * 1024));
            c->dest->next_output_byte = coder.out.data();
            c->dest->free_in_buffer = coder.out.size();
        };
        destination.empty_output_buffer = [](j_compress_ptr c) -> boolean {
            // Called with the whole buffer written.
            Coder& coder = *static_cast<Coder*>(c->client_data);
            const std::size_t used = coder.out.size();
            coder.out.resize(used * 2);
            c->dest->next_output_byte = coder.out.data() + used;
            c->dest->free_in_buffer = coder.out.size() - used;
            return TRUE;
        };
        destination.term_destination = [](j_compress_ptr c) {
            Coder& coder = *static_cast<Coder*>(c->client_data);
            coder.out.resize(coder.out.size() - c->dest->free_in_buffer);
        };
        info.dest = &destination;
        ready = true;
    }

    ~Coder()
    {
        if (ready)
            jpeg_destroy_compress(&info);
    }

    // Rows top … top + height - 1 of `image` as a JPEG file of their own,
    // in `out`.
    bool encode(const CapturedImage& image, int top, int height)
    {
        if (setjmp(failed)) {
            jpeg_abort_compress(&info);
            return false;
        }
        info.image_width = JDIMENSION(image.width);
        info.image_height = JDIMENSION(height);
        info.input_components = 4;
        info.in_color_space = JCS_EXT_BGRX;
        jpeg_set_defaults(&info); // YCbCr, 4:2:0, the standard Huffman tables
        jpeg_set_quality(&info, quality, TRUE);
        // The fast DCT costs nothing visible at this quality.
        info.dct_method = JDCT_IFAST;
        info.restart_in_rows = 1; // one row of 16 x 16 blocks: a band
        rows.resize(std::size_t(height));
        for (int y = 0; y < height; ++y)
            rows[std::size_t(y)] = const_cast<JSAMPROW>(
                image.pixels + std::size_t(top + y) * std::size_t(image.stride));
        jpeg_start_compress(&info, TRUE);
        while (info.next_scanline < info.image_height)
            jpeg_write_scanlines(&info, rows.data() + info.next_scanline,
                                 info.image_height - info.next_scanline);
        jpeg_finish_compress(&info);
        return true;
    }
};

BandedJpeg::BandedJpeg(int quality) : m_coder(std::make_unique<Coder>(quality)) {}

BandedJpeg::~BandedJpeg() = default;

std::optional<Bytes> BandedJpeg::encode(const CapturedImage& image)
{
    m_bandsEncoded = 0;
    if (!m_coder->ready || !image.pixels || image.width <= 0 || image.height <= 0 ||
        image.width > JPEG_MAX_DIMENSION || image.height > JPEG_MAX_DIMENSION ||
        image.stride < image.width * 4)
        return std::nullopt;
    if (sameShape(image) && m_wholeFrames > 1) {
        // Within a streak the whole picture is coded at once; its bands are
        // cut apart only on the streak's last picture.
        --m_wholeFrames;
        m_bandsEncoded = bandCount();
        if (m_coder->encode(image, 0, m_height))
            return m_coder->out;
    } else if (sameShape(image) && encodeChanged(image)) {
        return assemble();
    }
    // A new shape, or bands that could not be encoded on their own.
    m_bandsEncoded = 0;
    start(image);
    if (!encodeBands(image, 0, bandCount())) {
        m_width = 0;
        return std::nullopt;
    }
    keepPixels(image, 0, bandCount());
    return assemble();
}

// Bands that differ from the last picture, a run of them at a time; every
// band on the last picture of a streak. When nearly all of them differed,
// as in a video or a scroll, comparing is wasted work for a while: the next
// pictures are coded whole.
bool BandedJpeg::encodeChanged(const CapturedImage& image)
{
    const bool all = m_wholeFrames > 0;
    m_wholeFrames = 0;
    const int count = bandCount();
    for (int band = 0; band < count;) {
        if (!all && !bandChanged(image, band)) {
            ++band;
            continue;
        }
        int end = band + 1;
        while (end < count && (all || bandChanged(image, end)))
            ++end;
        if (!encodeBands(image, band, end))
            return false;
        keepPixels(image, band, end);
        band = end + 1; // band `end`, if any, was just found unchanged
    }
    if (!all && m_bandsEncoded * 4 >= count * 3)
        m_wholeFrames = wholeStreak;
    return true;
}

void BandedJpeg::release()
{
    m_width = m_height = 0;
    m_wholeFrames = 0;
    Bytes().swap(m_header);
    std::vector<Bytes>().swap(m_bands);
    std::vector<std::uint8_t>().swap(m_shown);
    Bytes().swap(m_coder->out);
}

bool BandedJpeg::sameShape(const CapturedImage& image) const
{
    return m_width == image.width && m_height == image.height && !m_header.empty();
}

void BandedJpeg::start(const CapturedImage& image)
{
    m_wholeFrames = 0;
    m_width = image.width;
    m_height = image.height;
    m_header.clear();
    m_bands.assign(std::size_t((image.height + bandHeight - 1) / bandHeight), Bytes{});
    m_shown.resize(std::size_t(image.width) * std::size_t(image.height) * 4);
}

bool BandedJpeg::bandChanged(const CapturedImage& image, int band) const
{
    const std::size_t rowBytes = std::size_t(m_width) * 4;
    const int end = std::min(m_height, (band + 1) * bandHeight);
    for (int y = band * bandHeight; y < end; ++y) {
        if (std::memcmp(image.pixels + std::size_t(y) * std::size_t(image.stride),
                        m_shown.data() + std::size_t(y) * rowBytes, rowBytes) != 0)
            return true;
    }
    return false;
}

// Bands first … end - 1 encoded as one picture of their rows. Restart
// markers reset everything the coder carries from one block to the next,
// so each band's bytes are the same as in an encode of the whole picture.
bool BandedJpeg::encodeBands(const CapturedImage& image, int first, int end)
{
    const int top = first * bandHeight;
    const int height = std::min(m_height, end * bandHeight) - top;
    if (!m_coder->encode(image, top, height)) {
        m_width = 0; // some bands may be stale: the next picture starts over
        return false;
    }
    const Bytes& out = m_coder->out;
    const std::size_t data = scanData(out);
    if (data == 0 || !splitAtRestarts(out, data, m_bands, first, end - first)) {
        m_width = 0;
        return false;
    }
    if (first == 0 && end == bandCount())
        m_header.assign(out.begin(), out.begin() + std::ptrdiff_t(data));
    m_bandsEncoded += end - first;
    return true;
}

void BandedJpeg::keepPixels(const CapturedImage& image, int first, int end)
{
    const std::size_t rowBytes = std::size_t(m_width) * 4;
    const int last = std::min(m_height, end * bandHeight);
    for (int y = first * bandHeight; y < last; ++y)
        std::memcpy(m_shown.data() + std::size_t(y) * rowBytes,
                    image.pixels + std::size_t(y) * std::size_t(image.stride), rowBytes);
}

// The header, each band followed by the restart marker its position calls
// for (they count 0 to 7 and round again), and the end of the image.
Bytes BandedJpeg::assemble() const
{
    std::size_t size = m_header.size() + 2 * m_bands.size();
    for (const Bytes& band : m_bands)
        size += band.size();
    Bytes jpeg;
    jpeg.reserve(size);
    jpeg.insert(jpeg.end(), m_header.begin(), m_header.end());
    for (std::size_t i = 0; i < m_bands.size(); ++i) {
        jpeg.insert(jpeg.end(), m_bands[i].begin(), m_bands[i].end());
        jpeg.push_back(marker);
        jpeg.push_back(i + 1 < m_bands.size() ? std::uint8_t(firstRestart + i % 8) : endOfImage);
    }
    return jpeg;
}

} // namespace orvane
