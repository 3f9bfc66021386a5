// The decoder must yield the same frames however the stream is split, and
// never hold much more than what arrived.
#include "protocol/frame.h"

#include <cstdlib>

using namespace orvane;

namespace {

struct Outcome {
    std::vector<Bytes> frames;
    bool closed = false;
};

Outcome decodeInPieces(ByteView stream, ByteView splits)
{
    Outcome outcome;
    FrameDecoder decoder;
    std::size_t at = 0;
    std::size_t splitIndex = 0;
    while (at < stream.size() && !outcome.closed) {
        std::size_t piece =
            splits.empty() ? stream.size() : splits[splitIndex++ % splits.size()] + 1;
        piece = std::min(piece, stream.size() - at);
        auto status = decoder.feed(stream.subspan(at, piece), [&](Bytes&& frame) {
            outcome.frames.push_back(std::move(frame));
            return true;
        });
        at += piece;
        outcome.closed = status == FrameDecoder::Status::close;
        if (decoder.bufferedBytes() > at + 64 * 1024)
            std::abort();
    }
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    std::size_t splitCount = std::min<std::size_t>(data[0], size - 1);
    ByteView splits(data + 1, splitCount);
    ByteView stream(data + 1 + splitCount, size - 1 - splitCount);
    Outcome whole = decodeInPieces(stream, {});
    Outcome pieces = decodeInPieces(stream, splits);
    if (whole.closed != pieces.closed || whole.frames != pieces.frames)
        std::abort();
    for (const auto& frame : whole.frames)
        if (frame.size() < minimumFrameLength || frame.size() > maximumFrameLength)
            std::abort();
    return 0;
}
