#pragma once

#include "capture/frame_pacer.h"
#include "platform/display_source.h"
#include "platform/screen_capture.h"
#include "x11_connection.h"
#include "x11_shm_pool.h"

#include <xcb/xfixes.h>

#include <cstdint>
#include <memory>
#include <optional>

namespace orvane {

// Pictures of one RandR monitor, on a connection of its own, for the capture
// thread alone. The server says what changed (DAMAGE), when the cursor
// moved (XInput 2 raw motion) or changed (XFIXES), and when the monitors
// changed (RandR); a picture is taken through MIT-SHM only when the pacer
// allows and something changed, with the cursor drawn in.
class X11ScreenGrabber {
public:
    explicit X11ScreenGrabber(ScreenCapture::EventSink sink);
    ~X11ScreenGrabber();
    X11ScreenGrabber(const X11ScreenGrabber&) = delete;
    X11ScreenGrabber& operator=(const X11ScreenGrabber&) = delete;

    // Connects and asks for the events; the reason for the user when the
    // display cannot be captured.
    std::optional<QString> open(std::uint32_t displayID, int framesPerSecond);
    // The connection's socket, to wait on.
    int fileDescriptor() const;
    // Another monitor or rate; a picture is owed either way.
    void retarget(std::uint32_t displayID, int framesPerSecond);
    void owePicture() { m_pacer.note(FramePacer::owed); }
    // Reads what the server sent and takes a picture when one is due.
    // Returns how long to wait for the next step in milliseconds (-1: until
    // the server or the owner says something), or nothing once the capture
    // has ended; the sink was told why.
    std::optional<int> step();

private:
    struct Area {
        int x = 0, y = 0, width = 0, height = 0;
        bool operator==(const Area&) const = default;
    };
    struct CursorSeen {
        std::int32_t x = 0, y = 0;
        std::uint32_t serial = 0;
        bool onArea = false;
        bool operator==(const CursorSeen&) const = default;
    };
    using CursorImage = XcbReply<xcb_xfixes_get_cursor_image_reply_t>;

    bool checkFormat();
    void selectEvents();
    void readEvents();
    void handle(const xcb_generic_event_t* event);
    void locate();
    void grab(FramePacer::Clock::time_point now, unsigned reasons);
    CursorImage cursorImage();
    CursorSeen seen(const CursorImage& cursor) const;
    void drawCursor(const CursorImage& cursor, std::uint8_t* pixels) const;
    void fail(const QString& reason);

    ScreenCapture::EventSink m_sink;
    std::shared_ptr<X11Connection> m_x11;
    std::unique_ptr<DisplaySource> m_monitors;
    std::unique_ptr<X11ShmPool> m_pool;
    FramePacer m_pacer;
    std::uint32_t m_displayID = 0;
    Area m_area;
    bool m_gone = false;
    bool m_ended = false;
    std::uint32_t m_damage = 0;
    std::uint8_t m_damageEvent = 0;
    std::uint8_t m_xfixesEvent = 0; // 0: no cursor image
    std::uint8_t m_randrEvent = 0;
    std::uint8_t m_xinputOpcode = 0; // 0: the cursor is looked at every interval
    std::optional<CursorSeen> m_lastCursor;
    int m_failedGrabs = 0;
};

} // namespace orvane
