#pragma once

#include "stream_frames.h"

#include <optional>

struct spa_buffer;

namespace orvane {

// What one buffer of a screen stream brought.
struct BufferNews {
    bool pixels = false; // the screen's pixels were copied out
    bool dmaBuf = false; // graphics memory, which is not read
    bool cursor = false; // the buffer said where the cursor is
    int cursorX = 0, cursorY = 0;
};

// Reads a mapped buffer of a BGRx or BGRA stream into `frames`: its pixels
// when it has any and they changed, its cursor metadata when there is any.
// Anything that does not fit the buffer's own bounds is left out.
BufferNews readStreamBuffer(const spa_buffer& buffer, StreamFrames& frames,
                            StreamFrames::Clock::time_point now);

} // namespace orvane
