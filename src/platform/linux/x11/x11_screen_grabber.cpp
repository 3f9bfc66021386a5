#include "x11_screen_grabber.h"

#include "x11_display_source.h"
#include "x11_properties.h"

#include <QCoreApplication>

#include <pixman.h>
#include <xcb/damage.h>
#include <xcb/randr.h>
#include <xcb/xinput.h>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace orvane {

namespace {

using Clock = FramePacer::Clock;

QString text(const char* sentence)
{
    return QCoreApplication::translate("X11ScreenCapture", sentence);
}

const xcb_query_extension_reply_t* extension(xcb_connection_t* c, xcb_extension_t* id)
{
    const xcb_query_extension_reply_t* reply = xcb_get_extension_data(c, id);
    return reply && reply->present ? reply : nullptr;
}

template <class Cookie, class Reply>
bool answers(xcb_connection_t* c, Cookie cookie,
             Reply* (*read)(xcb_connection_t*, Cookie, xcb_generic_error_t**))
{
    return bool(takeReply(c, cookie, read));
}

bool overlaps(int x, int y, int width, int height, int ax, int ay, int aw, int ah)
{
    return x < ax + aw && ax < x + width && y < ay + ah && ay < y + height;
}

// Raw motion of every master pointer on the root window: the one event that
// tells of cursor movement without watching every window.
void selectRawMotion(xcb_connection_t* c, xcb_window_t root)
{
    struct {
        xcb_input_event_mask_t head;
        std::uint32_t mask;
    } selection{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, XCB_INPUT_XI_EVENT_MASK_RAW_MOTION};
    xcb_input_xi_select_events(c, root, 1, &selection.head);
}

} // namespace

X11ScreenGrabber::X11ScreenGrabber(ScreenCapture::EventSink sink) : m_sink(std::move(sink)) {}

X11ScreenGrabber::~X11ScreenGrabber()
{
    // The server lets go of the memory while the connection still exists.
    m_pool.reset();
}

int X11ScreenGrabber::fileDescriptor() const
{
    return xcb_get_file_descriptor(m_x11->get());
}

std::optional<QString> X11ScreenGrabber::open(std::uint32_t displayID, int framesPerSecond)
{
    m_x11 = std::make_shared<X11Connection>();
    if (!m_x11->ensureConnected())
        return text("The display cannot be reached");
    xcb_connection_t* c = m_x11->get();
    if (!extension(c, &xcb_shm_id) ||
        !answers(c, xcb_shm_query_version(c), &xcb_shm_query_version_reply))
        return text("The display does not share memory with local programs (MIT-SHM)");
    if (!checkFormat())
        return text("The display's pixel format cannot be captured");
    // XFIXES first: DAMAGE works on its regions.
    const xcb_query_extension_reply_t* fixes = extension(c, &xcb_xfixes_id);
    if (fixes && answers(c, xcb_xfixes_query_version(c, 4, 0), &xcb_xfixes_query_version_reply))
        m_xfixesEvent = fixes->first_event + XCB_XFIXES_CURSOR_NOTIFY;
    const xcb_query_extension_reply_t* damage = extension(c, &xcb_damage_id);
    if (!damage || !answers(c, xcb_damage_query_version(c, 1, 1), &xcb_damage_query_version_reply))
        return text("The display does not report what changes on it (DAMAGE)");
    m_damageEvent = damage->first_event + XCB_DAMAGE_NOTIFY;
    selectEvents();
    m_monitors = makeX11DisplaySource(m_x11);
    m_pool = std::make_unique<X11ShmPool>(c);
    m_displayID = displayID;
    m_pacer.setRate(framesPerSecond);
    m_gone = true; // a display missing now is an answer to the start, not news
    locate();
    if (m_gone)
        return text("No display found to share");
    owePicture();
    return std::nullopt;
}

// Pictures are handed on as 32-bit pixels with blue in the lowest byte, as
// the root window of every common true-colour X server stores them.
bool X11ScreenGrabber::checkFormat()
{
    const xcb_setup_t* setup = xcb_get_setup(m_x11->get());
    const xcb_screen_t* screen = m_x11->screen();
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
        return false;
    int bitsPerPixel = 0;
    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f)) {
        if (f.data->depth == screen->root_depth)
            bitsPerPixel = f.data->bits_per_pixel;
    }
    if (bitsPerPixel != 32)
        return false;
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d)) {
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
            if (v.data->visual_id == screen->root_visual)
                return v.data->red_mask == 0xff0000 && v.data->green_mask == 0xff00 &&
                       v.data->blue_mask == 0xff;
        }
    }
    return false;
}

void X11ScreenGrabber::selectEvents()
{
    xcb_connection_t* c = m_x11->get();
    const xcb_window_t root = m_x11->root();
    // An event when the box around what changed grows. A change elsewhere
    // is taken away at once, so the next box shows only what is new; a
    // change here stays until the picture is taken, so a busy screen costs
    // few events per picture.
    m_damage = xcb_generate_id(c);
    xcb_damage_create(c, m_damage, root, XCB_DAMAGE_REPORT_LEVEL_BOUNDING_BOX);
    // Monitors set or deleted by a client are announced only as a
    // configuration of the root window.
    const std::uint32_t structure = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &structure);
    const xcb_query_extension_reply_t* randr = extension(c, &xcb_randr_id);
    if (randr && answers(c, xcb_randr_query_version(c, 1, 5), &xcb_randr_query_version_reply)) {
        m_randrEvent = randr->first_event;
        xcb_randr_select_input(c, root,
                               XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE |
                                   XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                                   XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
    }
    if (!m_xfixesEvent)
        return; // without the cursor's image its movements do not matter
    xcb_xfixes_select_cursor_input(c, root, XCB_XFIXES_CURSOR_NOTIFY_MASK_DISPLAY_CURSOR);
    const xcb_query_extension_reply_t* input = extension(c, &xcb_input_id);
    const auto version =
        input ? takeReply(c, xcb_input_xi_query_version(c, 2, 0), &xcb_input_xi_query_version_reply)
              : nullptr;
    if (version && version->major_version >= 2) {
        m_xinputOpcode = input->major_opcode;
        selectRawMotion(c, root);
    }
    xcb_flush(c);
}

void X11ScreenGrabber::retarget(std::uint32_t displayID, int framesPerSecond)
{
    m_displayID = displayID;
    m_pacer.setRate(framesPerSecond);
    m_gone = false;
    m_lastCursor.reset();
    locate();
    owePicture();
}

// Where the monitor lies on the root window now. A monitor that is gone is
// reported once; a monitor that moved or changed size owes a picture.
void X11ScreenGrabber::locate()
{
    xcb_connection_t* c = m_x11->get();
    const auto root = takeReply(c, xcb_get_geometry(c, m_x11->root()), &xcb_get_geometry_reply);
    std::optional<Area> found;
    for (const DisplayDescription& display : m_monitors->activeDisplays()) {
        if (display.id != m_displayID || !root)
            continue;
        const int left = std::max(0, int(std::lround(display.bounds.minX())));
        const int top = std::max(0, int(std::lround(display.bounds.minY())));
        const int right = std::min(int(root->width), int(std::lround(display.bounds.maxX())));
        const int bottom = std::min(int(root->height), int(std::lround(display.bounds.maxY())));
        if (right > left && bottom > top)
            found = Area{left, top, right - left, bottom - top};
        break;
    }
    if (!found) {
        if (!m_gone && m_sink)
            m_sink({CaptureEvent::Status::displayGone, {}, {}});
        m_gone = true;
        return;
    }
    m_gone = false;
    if (*found == m_area)
        return;
    m_area = *found;
    m_pool->setSize(std::size_t(m_area.width) * std::size_t(m_area.height) * 4);
    owePicture();
}

void X11ScreenGrabber::readEvents()
{
    while (xcb_generic_event_t* event = xcb_poll_for_event(m_x11->get())) {
        handle(event);
        std::free(event);
    }
}

void X11ScreenGrabber::handle(const xcb_generic_event_t* event)
{
    const std::uint8_t type = event->response_type & 0x7f;
    if (type == m_damageEvent) {
        const auto* notify = reinterpret_cast<const xcb_damage_notify_event_t*>(event);
        const xcb_rectangle_t& r = notify->area;
        if (!m_gone &&
            overlaps(r.x, r.y, r.width, r.height, m_area.x, m_area.y, m_area.width, m_area.height))
            m_pacer.note(FramePacer::content); // taken away when the picture is taken
        else
            xcb_damage_subtract(m_x11->get(), m_damage, XCB_NONE, XCB_NONE);
    } else if (m_xfixesEvent && type == m_xfixesEvent) {
        m_pacer.note(FramePacer::cursor);
    } else if (m_xinputOpcode && type == XCB_GE_GENERIC) {
        const auto* generic = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
        if (generic->extension == m_xinputOpcode && generic->event_type == XCB_INPUT_RAW_MOTION)
            m_pacer.note(FramePacer::cursor);
    } else if (type == XCB_CONFIGURE_NOTIFY ||
               (m_randrEvent && (type == m_randrEvent + XCB_RANDR_SCREEN_CHANGE_NOTIFY ||
                                 type == m_randrEvent + XCB_RANDR_NOTIFY))) {
        locate();
    }
}

std::optional<int> X11ScreenGrabber::step()
{
    if (m_ended)
        return std::nullopt;
    xcb_connection_t* c = m_x11->get();
    readEvents();
    if (!m_gone) {
        const Clock::time_point now = Clock::now();
        if (const unsigned reasons = m_pacer.due(now)) {
            grab(now, reasons);
            readEvents(); // what arrived while the replies were awaited
        }
    }
    if (xcb_connection_has_error(c))
        fail(text("The connection to the display was lost"));
    if (m_ended)
        return std::nullopt;
    // Without raw motion events, the cursor is looked at once an interval.
    if (!m_xinputOpcode && m_xfixesEvent && !m_gone)
        m_pacer.note(FramePacer::cursor);
    xcb_flush(c);
    const std::optional<Clock::duration> wait = m_pacer.wait(Clock::now());
    if (m_gone || !wait)
        return -1;
    return int(std::chrono::ceil<std::chrono::milliseconds>(*wait).count());
}

void X11ScreenGrabber::grab(Clock::time_point now, unsigned reasons)
{
    xcb_connection_t* c = m_x11->get();
    CursorImage cursor;
    if (reasons == FramePacer::cursor) {
        // Only the cursor: worth a picture when it changed on this display,
        // or came or left.
        cursor = cursorImage();
        const std::optional<CursorSeen> before = m_lastCursor;
        m_lastCursor = cursor ? std::optional(seen(cursor)) : std::nullopt;
        if (!m_lastCursor ||
            (before && (*before == *m_lastCursor || (!before->onArea && !m_lastCursor->onArea)))) {
            m_pacer.taken(now);
            return;
        }
    }
    QString refused;
    const std::shared_ptr<X11ShmPool::Segment> segment = m_pool->acquire(&refused);
    if (!segment) {
        if (!refused.isEmpty())
            fail(refused);
        m_pacer.deferred(now); // all held: the encoder is behind, try again later
        return;
    }
    // The memory was last read on another thread.
    std::atomic_thread_fence(std::memory_order_acquire);
    xcb_damage_subtract(c, m_damage, XCB_NONE, XCB_NONE);
    const auto imageCookie =
        xcb_shm_get_image(c, m_x11->root(), std::int16_t(m_area.x), std::int16_t(m_area.y),
                          std::uint16_t(m_area.width), std::uint16_t(m_area.height), ~0u,
                          XCB_IMAGE_FORMAT_Z_PIXMAP, segment->id, 0);
    const bool askCursor = !cursor && m_xfixesEvent;
    const auto cursorCookie =
        askCursor ? xcb_xfixes_get_cursor_image(c) : xcb_xfixes_get_cursor_image_cookie_t{};
    const auto image = takeReply(c, imageCookie, &xcb_shm_get_image_reply);
    if (askCursor)
        cursor = takeReply(c, cursorCookie, &xcb_xfixes_get_cursor_image_reply);
    if (!image || image->size < segment->size) {
        // Most likely the monitors changed before their event arrived.
        if (++m_failedGrabs >= 3)
            fail(text("The screen could not be read"));
        m_pacer.deferred(now);
        locate();
        return;
    }
    m_failedGrabs = 0;
    if (cursor) {
        drawCursor(cursor, segment->data);
        m_lastCursor = seen(cursor);
    }
    m_pacer.taken(now);
    CaptureEvent event;
    event.image = {m_area.width, m_area.height, m_area.width * 4, segment->data, segment, now};
    m_sink(std::move(event));
}

X11ScreenGrabber::CursorImage X11ScreenGrabber::cursorImage()
{
    if (!m_xfixesEvent)
        return nullptr;
    xcb_connection_t* c = m_x11->get();
    return takeReply(c, xcb_xfixes_get_cursor_image(c), &xcb_xfixes_get_cursor_image_reply);
}

X11ScreenGrabber::CursorSeen X11ScreenGrabber::seen(const CursorImage& cursor) const
{
    const int left = cursor->x - cursor->xhot;
    const int top = cursor->y - cursor->yhot;
    return {cursor->x, cursor->y, cursor->cursor_serial,
            overlaps(left, top, cursor->width, cursor->height, m_area.x, m_area.y, m_area.width,
                     m_area.height)};
}

// The cursor's image comes with premultiplied alpha, as Pixman's OVER
// expects it.
void X11ScreenGrabber::drawCursor(const CursorImage& cursor, std::uint8_t* pixels) const
{
    const int width = cursor->width;
    const int height = cursor->height;
    if (width == 0 || height == 0 ||
        xcb_xfixes_get_cursor_image_cursor_image_length(cursor.get()) < width * height ||
        !seen(cursor).onArea)
        return;
    auto* argb = const_cast<std::uint32_t*>(xcb_xfixes_get_cursor_image_cursor_image(cursor.get()));
    pixman_image_t* src =
        pixman_image_create_bits_no_clear(PIXMAN_a8r8g8b8, width, height, argb, width * 4);
    pixman_image_t* dst = pixman_image_create_bits_no_clear(
        PIXMAN_x8r8g8b8, m_area.width, m_area.height, reinterpret_cast<std::uint32_t*>(pixels),
        m_area.width * 4);
    pixman_image_composite32(PIXMAN_OP_OVER, src, nullptr, dst, 0, 0, 0, 0,
                             cursor->x - cursor->xhot - m_area.x,
                             cursor->y - cursor->yhot - m_area.y, width, height);
    pixman_image_unref(src);
    pixman_image_unref(dst);
}

void X11ScreenGrabber::fail(const QString& reason)
{
    if (m_ended)
        return;
    m_ended = true;
    if (m_sink)
        m_sink({CaptureEvent::Status::error, {}, reason});
}

} // namespace orvane
