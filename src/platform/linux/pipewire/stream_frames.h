#pragma once

#include "capture/frame_pacer.h"
#include "platform/screen_capture.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace orvane {

// Pictures of a screen whose pixels and cursor come apart, as a PipeWire
// stream delivers them: each frame's pixels are copied out at once (the
// stream wants its buffer back) into the picture that leaves next, the
// cursor is drawn in when it leaves, and pictures leave at the pacer's rate.
// A cursor that moves over a still screen costs one copy of the last
// picture, with what lay under the cursor put back. Not thread-safe: the
// stream's thread alone uses it.
class StreamFrames {
public:
    using Clock = FramePacer::Clock;
    // One picture being encoded, one waiting, the last one handed on (the
    // cursor's next picture is made from it) and one being filled.
    static constexpr std::size_t pictureCount = 4;
    // Cursor images are small (mutter makes room for 384 pixels a side);
    // a larger one is a broken stream.
    static constexpr int maxCursorSide = 512;

    // Byte orders a cursor image comes in.
    enum class CursorFormat { rgba, bgra, argb, abgr };

    explicit StreamFrames(ScreenCapture::EventSink sink) : m_sink(std::move(sink)) {}

    // The stream's picture size; the pixels so far no longer count.
    void setSize(int width, int height);
    int width() const { return m_width; }
    int height() const { return m_height; }
    void setRate(int framesPerSecond) { m_pacer.setRate(framesPerSecond); }
    void owePicture() { m_pacer.note(FramePacer::owed); }

    // A frame's pixels, `stride` bytes from one row to the next, each row at
    // least width * 4 bytes: the screen changed.
    void takePixels(const std::uint8_t* rows, std::size_t stride, Clock::time_point at);

    // The cursor's hotspot moved to (x, y) in the picture.
    void moveCursor(int x, int y);
    // A new cursor image with its hotspot; false when it cannot be used
    // (then the cursor is not drawn until the next image).
    bool setCursorImage(const std::uint8_t* data, int width, int height, std::size_t stride,
                        CursorFormat format, int hotX, int hotY);
    void hideCursor();
    bool cursorVisible() const { return m_cursor.visible; }

    // Hands on a picture when one is due. Returns how long until the next
    // may be due, nothing while no reason waits or no pixels came yet.
    std::optional<Clock::duration> step(Clock::time_point now);

private:
    struct Cursor {
        bool visible = false;
        int x = 0, y = 0, hotX = 0, hotY = 0;
        int width = 0, height = 0;
        std::vector<std::uint32_t> argb; // premultiplied, as OVER expects
    };
    using Picture = std::shared_ptr<std::vector<std::uint8_t>>;
    // The pixels of the last picture beneath the cursor drawn into it.
    struct Under {
        int x = 0, y = 0, width = 0, height = 0;
        std::vector<std::uint32_t> pixels;
    };

    Picture freePicture();
    Picture nextPicture();
    void drawCursor(std::uint8_t* pixels);

    ScreenCapture::EventSink m_sink;
    FramePacer m_pacer;
    int m_width = 0;
    int m_height = 0;
    std::size_t m_bytes = 0;
    bool m_hasScreen = false;
    Clock::time_point m_screenAt{};
    std::vector<Picture> m_pictures;
    Picture m_filling; // the newest pixels, not handed on yet
    Picture m_last;    // the last picture handed on
    Under m_under;
    Cursor m_cursor;
};

} // namespace orvane
