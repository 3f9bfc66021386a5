// An application of its own process with top-level windows, for the tests
// that need another program's windows on a display:
//   x_test_window WINDOW... [close|refuse|stubborn [PROGRAM ARG...]]
// A WINDOW is CLASS[:WIDTHxHEIGHT[:OPTION,...]] (64x64 by default), titled
// "CLASS Café" and filled red. Options: "utility" and "dock" (window types;
// a dock reserves its height at the top), "bare" (no decorations), "legacy"
// (title only in WM_NAME, Latin-1), "colour=RRGGBB", "hung" (painted once, at
// its first exposure, and never again, like an application that hangs) and
// "at=X,Y" (a position of its own; last, as it holds a comma). Prints the
// window ids in order once mapped, then repaints what is exposed.
//
// Asked to close a window (WM_DELETE_WINDOW), it answers by its mode:
//   close     destroys it, and exits 0 with the last, like an application
//             with nothing to save (the default);
//   refuse    keeps it and prints "close refused", like an editor asking
//             whether to save; SIGTERM makes it exit with status 15;
//   stubborn  refuses as well, and prints "SIGTERM" for that signal instead
//             of ending, so only SIGKILL ends it.
// With a PROGRAM it plays a terminal: it runs the program as its child with
// the same standard streams, passes SIGTERM on to it, sends it SIGHUP when
// it closes, and exits with the child's status when the child ends.
#include "platform/linux/x11/x11_connection.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

xcb_connection_t* c = nullptr;
xcb_screen_t* screen = nullptr;
// The hung windows that are still to be painted, and their colours.
std::map<xcb_window_t, uint32_t> unpainted;
volatile pid_t child = 0;

xcb_atom_t atom(const char* name)
{
    const orvane::XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
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

xcb_window_t create(const std::string& arg)
{
    const std::string name = arg.substr(0, arg.find(':'));
    unsigned width = 64, height = 64, colour = 0xff0000;
    int x = 0, y = 0;
    std::string options;
    if (const auto size = arg.find(':'); size != std::string::npos) {
        std::sscanf(arg.c_str() + size + 1, "%ux%u", &width, &height);
        if (const auto rest = arg.find(':', size + 1); rest != std::string::npos)
            options = arg.substr(rest + 1);
    }
    const auto has = [&](const char* option) { return options.find(option) != std::string::npos; };
    if (const auto at = options.find("at="); at != std::string::npos)
        std::sscanf(options.c_str() + at + 3, "%d,%d", &x, &y);
    if (const auto at = options.find("colour="); at != std::string::npos)
        std::sscanf(options.c_str() + at + 7, "%x", &colour);

    const xcb_window_t w = xcb_generate_id(c);
    const bool hung = has("hung");
    const uint32_t values[] = {hung ? uint32_t(XCB_BACK_PIXMAP_NONE) : colour,
                               XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, int16_t(x), int16_t(y),
                      uint16_t(width), uint16_t(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual,
                      (hung ? XCB_CW_BACK_PIXMAP : XCB_CW_BACK_PIXEL) | XCB_CW_EVENT_MASK, values);
    if (hung)
        unpainted[w] = colour;

    set32(w, "_NET_WM_PID", XCB_ATOM_CARDINAL, {uint32_t(getpid())});
    setText(w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, name + '\0' + name + '\0');
    if (has("legacy")) {
        setText(w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, name + " Caf\xe9");
    } else {
        setText(w, atom("_NET_WM_NAME"), atom("UTF8_STRING"), name + " Caf\xc3\xa9");
        setText(w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, name);
    }
    set32(w, "WM_PROTOCOLS", XCB_ATOM_ATOM, {atom("WM_DELETE_WINDOW")});
    set32(w, "WM_HINTS", XCB_ATOM_WM_HINTS, {1 /* input */, 1, 0, 0, 0, 0, 0, 0, 0});
    if (has("at=") || has("dock")) // USPosition and USSize
        set32(w, "WM_NORMAL_HINTS", XCB_ATOM_WM_SIZE_HINTS,
              {3, uint32_t(x), uint32_t(y), width, height, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    const char* type = has("utility") ? "_NET_WM_WINDOW_TYPE_UTILITY"
                       : has("dock")  ? "_NET_WM_WINDOW_TYPE_DOCK"
                                      : "_NET_WM_WINDOW_TYPE_NORMAL";
    set32(w, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM, {atom(type)});
    if (has("dock"))
        set32(w, "_NET_WM_STRUT_PARTIAL", XCB_ATOM_CARDINAL,
              {0, 0, height, 0, 0, 0, 0, 0, 0, width - 1, 0, 0});
    if (has("bare"))
        set32(w, "_MOTIF_WM_HINTS", atom("_MOTIF_WM_HINTS"), {2 /* decorations */, 0, 0, 0, 0});
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

void say(const char* line)
{
    [[maybe_unused]] auto ignored = write(STDOUT_FILENO, line, std::strlen(line));
}

// A terminal passes SIGTERM on to its program and ends with it.
void onTerm(int)
{
    if (child > 0)
        kill(child, SIGTERM);
    else
        _exit(15);
}

void noteTerm(int)
{
    say("SIGTERM\n");
}

void onChildExit(int)
{
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child)
        _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
}

} // namespace

int main(int argc, char** argv)
{
    int first = 1;
    while (first < argc && std::strcmp(argv[first], "close") != 0 &&
           std::strcmp(argv[first], "refuse") != 0 && std::strcmp(argv[first], "stubborn") != 0)
        ++first;
    const std::string mode = first < argc ? argv[first] : "close";
    std::signal(SIGTERM, mode == "stubborn" ? noteTerm : onTerm);
    c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return 3;
    screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    std::string ids;
    std::set<xcb_window_t> open;
    for (int i = 1; i < first; ++i) {
        const xcb_window_t window = create(argv[i]);
        open.insert(window);
        ids += std::to_string(window) + '\n';
    }
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); // a round trip
    say(ids.c_str());
    if (first + 1 < argc) {
        std::signal(SIGCHLD, onChildExit);
        const pid_t forked = fork();
        if (forked == 0) {
            execv(argv[first + 1], argv + first + 1);
            _exit(127);
        }
        child = forked;
    }

    const xcb_atom_t deleteWindow = atom("WM_DELETE_WINDOW");
    int status = 4; // the display went away
    while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
        const auto type = event->response_type & 0x7f;
        const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
        const bool closing = type == XCB_CLIENT_MESSAGE && message->data.data32[0] == deleteWindow;
        if (type == XCB_EXPOSE) {
            repaint(*reinterpret_cast<xcb_expose_event_t*>(event));
        } else if (closing && mode != "close") {
            say("close refused\n");
        } else if (closing && open.erase(message->window)) {
            xcb_destroy_window(c, message->window);
            xcb_flush(c);
            status = open.empty() ? 0 : status;
        }
        std::free(event);
        if (status == 0)
            break;
    }
    xcb_disconnect(c);
    if (child > 0) {
        std::signal(SIGCHLD, SIG_DFL);
        kill(child, SIGHUP);
        waitpid(child, nullptr, 0);
    }
    return status;
}
