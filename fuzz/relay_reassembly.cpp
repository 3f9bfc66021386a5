// A relay session as a script: each step is a text or binary message. The
// frames that come out must match a plain decoder fed the binary bytes
// since the last "peer:on".
#include "protocol/relay.h"

#include <cstdlib>

using namespace orvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FrameReassembler relay;
    FrameDecoder reference;
    std::size_t at = 0;
    while (at + 2 <= size) {
        std::uint8_t op = data[at];
        std::size_t length = std::min<std::size_t>(data[at + 1], size - at - 2);
        ByteView body(data + at + 2, length);
        at += 2 + length;
        if (op % 3 == 0) {
            if (relay.onText(body) == RelayText::peerOn)
                reference.reset();
            continue;
        }
        std::vector<Bytes> got, expected;
        auto status = relay.onBinary(body, [&](Bytes&& f) {
            got.push_back(std::move(f));
            return true;
        });
        auto want = reference.feed(body, [&](Bytes&& f) {
            expected.push_back(std::move(f));
            return true;
        });
        if (status != want || got != expected)
            std::abort();
        if (status == FrameDecoder::Status::close)
            return 0;
    }
    return 0;
}
