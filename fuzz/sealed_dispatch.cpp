// Frames and sealed records through dispatch, with a session on fixed keys.
// In this build the AEAD is transparent, so the inner kinds, JSON and file
// bodies behind it are reached too.
#include "protocol/dispatch.h"
#include "protocol/secure_session.h"

using namespace orvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    SessionKeys keys;
    keys.sendKey.fill(0x11);
    keys.receiveKey.fill(0x22);
    SecureSession session(keys);
    ByteView input(data, size);
    // The same bytes as a whole frame, with and without a session, and as a
    // record twice (the second time it is a replay).
    dispatchFrame(input, nullptr);
    dispatchFrame(input, &session);
    dispatchSealed(input, &session);
    FrameEvent replay = dispatchSealed(input, &session);
    if (size >= sealedRecordOverhead &&
        !std::holds_alternative<frame_event::DecryptFailure>(replay))
        __builtin_trap();
    return 0;
}
