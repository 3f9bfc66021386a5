// Parsing never fails hard; what parses encodes back to the same bytes'
// meaning, with a name that is always valid UTF-8.
#include "protocol/frame.h"
#include "protocol/utf8.h"

#include <cstdlib>

using namespace orvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto file = parseFileBody({data, size});
    if (!file)
        return 0;
    if (!utf8::isValid(file->name))
        std::abort();
    auto again = parseFileBody(encodeFileBody(*file));
    if (!again || !(*again == *file))
        std::abort();
    return 0;
}
