// Any bytes: decoding never crashes, and whatever decodes encodes again to
// JSON that decodes to the same value.
#include "protocol/codec.h"

#include <cstdlib>

using namespace orvane;

template <class T> static void roundTrip(std::string_view text)
{
    auto decoded = decodeJson<T>(text);
    if (!decoded)
        return;
    auto encoded = encodeJson(*decoded);
    if (!encoded)
        std::abort(); // decoded numbers are finite, so encoding must work
    auto again = decodeJson<T>(*encoded);
    if (!again || !(*again == *decoded))
        std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    roundTrip<OrvaneMessage>(text);
    roundTrip<MacInfo>(text);
    roundTrip<NowPlaying>(text);
    return 0;
}
