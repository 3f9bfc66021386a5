// An application of its own process for the window tests:
//   window_test_client CLASS:WIDTHxHEIGHT[:OPTION,...] ...
// Each argument is one window of that class and client size, titled
// "CLASS Café", filled red. Options: "utility" and "dock" (window types),
// "bare" (no decorations), "legacy" (title only in WM_NAME, Latin-1),
// "colour=RRGGBB" (another fill), "hung" (no background; painted once, at
// its first exposure, and never again, like an application that hangs),
// "at=X,Y" (a position of its own; last, as it holds a comma). A dock
// reserves its height at the top of the screen. Prints the window ids in
// order once mapped, then repaints what is exposed, as applications do,
// destroys a window when asked to close it, and runs until killed.
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

xcb_connection_t* c = nullptr;
xcb_screen_t* screen = nullptr;
// The hung windows that are still to be painted, and their colours.
std::map<xcb_window_t, uint32_t> unpainted;

xcb_atom_t atom(const char* name)
{
    auto* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return a;
}

void set32(xcb_window_t w, const char* property, xcb_atom_t type, std::vector<uint32_t> values)
{
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom(property), type, 32,
                        uint32_t(values.size()), values.data());
}

void setText(xcb_window_t w, xcb_atom_t property, xcb_atom_t type, const std::string& text)
{
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, property, type, 8, uint32_t(text.size()),
                        text.data());
}

struct Wanted {
    std::string name;
    uint16_t width = 0, height = 0;
    std::string options;
    bool has(const char* option) const { return options.find(option) != std::string::npos; }
};

Wanted parse(const std::string& arg)
{
    Wanted wanted;
    const auto colon = arg.find(':');
    wanted.name = arg.substr(0, colon);
    unsigned w = 0, h = 0;
    std::sscanf(arg.c_str() + colon + 1, "%ux%u", &w, &h);
    wanted.width = uint16_t(w);
    wanted.height = uint16_t(h);
    const auto second = arg.find(':', colon + 1);
    if (second != std::string::npos)
        wanted.options = arg.substr(second + 1);
    return wanted;
}

void describe(xcb_window_t w, const Wanted& wanted, int x, int y)
{
    set32(w, "_NET_WM_PID", XCB_ATOM_CARDINAL, {uint32_t(getpid())});
    const std::string classes = wanted.name + '\0' + wanted.name + '\0';
    setText(w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, classes);
    if (wanted.has("legacy")) {
        setText(w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, wanted.name + " Caf\xe9");
    } else {
        setText(w, atom("_NET_WM_NAME"), atom("UTF8_STRING"), wanted.name + " Caf\xc3\xa9");
        setText(w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, wanted.name);
    }
    set32(w, "WM_PROTOCOLS", XCB_ATOM_ATOM, {atom("WM_DELETE_WINDOW")});
    set32(w, "WM_HINTS", XCB_ATOM_WM_HINTS, {1 /* input */, 1, 0, 0, 0, 0, 0, 0, 0});
    if (wanted.has("at=") || wanted.has("dock")) // USPosition and USSize
        set32(w, "WM_NORMAL_HINTS", XCB_ATOM_WM_SIZE_HINTS,
              {3, uint32_t(x), uint32_t(y), wanted.width, wanted.height, 0, 0, 0, 0, 0, 0, 0, 0, 0,
               0, 0, 0, 0});
    const char* type = wanted.has("utility") ? "_NET_WM_WINDOW_TYPE_UTILITY"
                       : wanted.has("dock")  ? "_NET_WM_WINDOW_TYPE_DOCK"
                                             : "_NET_WM_WINDOW_TYPE_NORMAL";
    set32(w, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM, {atom(type)});
    if (wanted.has("dock"))
        set32(w, "_NET_WM_STRUT_PARTIAL", XCB_ATOM_CARDINAL,
              {0, 0, wanted.height, 0, 0, 0, 0, 0, 0, uint32_t(wanted.width - 1), 0, 0});
    if (wanted.has("bare"))
        set32(w, "_MOTIF_WM_HINTS", atom("_MOTIF_WM_HINTS"), {2 /* decorations */, 0, 0, 0, 0});
}

xcb_window_t create(const Wanted& wanted)
{
    int x = 0, y = 0;
    if (const auto at = wanted.options.find("at="); at != std::string::npos)
        std::sscanf(wanted.options.c_str() + at + 3, "%d,%d", &x, &y);
    unsigned colour = 0xff0000;
    if (const auto at = wanted.options.find("colour="); at != std::string::npos)
        std::sscanf(wanted.options.c_str() + at + 7, "%x", &colour);
    const xcb_window_t w = xcb_generate_id(c);
    const bool hung = wanted.has("hung");
    const uint32_t values[] = {hung ? uint32_t(XCB_BACK_PIXMAP_NONE) : colour,
                               XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, int16_t(x), int16_t(y),
                      wanted.width, wanted.height, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual,
                      (hung ? XCB_CW_BACK_PIXMAP : XCB_CW_BACK_PIXEL) | XCB_CW_EVENT_MASK, values);
    if (hung)
        unpainted[w] = colour;
    describe(w, wanted, x, y);
    xcb_map_window(c, w);
    return w;
}

void repaint(const xcb_expose_event_t& expose)
{
    const auto hung = unpainted.find(expose.window);
    if (hung != unpainted.end()) {
        const xcb_gcontext_t gc = xcb_generate_id(c);
        xcb_create_gc(c, gc, expose.window, XCB_GC_FOREGROUND, &hung->second);
        const xcb_rectangle_t all = {0, 0, 0xffff, 0xffff};
        xcb_poly_fill_rectangle(c, expose.window, gc, 1, &all);
        xcb_free_gc(c, gc);
        unpainted.erase(hung);
    } else {
        xcb_clear_area(c, 0, expose.window, int16_t(expose.x), int16_t(expose.y), expose.width,
                       expose.height);
    }
    xcb_flush(c);
}

} // namespace

int main(int argc, char** argv)
{
    c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return 3;
    screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    for (int i = 1; i < argc; ++i)
        std::printf("%u\n", create(parse(argv[i])));
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); // a round trip
    std::fflush(stdout);
    const xcb_atom_t deleteWindow = atom("WM_DELETE_WINDOW");
    while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
        if ((event->response_type & 0x7f) == XCB_EXPOSE)
            repaint(*reinterpret_cast<xcb_expose_event_t*>(event));
        if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
            const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
            if (message->data.data32[0] == deleteWindow) {
                xcb_destroy_window(c, message->window);
                xcb_flush(c);
            }
        }
        std::free(event);
    }
    xcb_disconnect(c);
    return 4; // the display went away
}
