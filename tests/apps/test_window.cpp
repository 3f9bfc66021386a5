// A client window owned by a process of its own:
//   apps_test_window CLASS close|refuse|stubborn [PROGRAM ARG...]
// prints its window id once mapped. Its window lists WM_DELETE_WINDOW, so
// it is asked before it is closed, and answers by its mode:
//   close     closes and exits 0, like an application with nothing to save;
//   refuse    keeps its window and prints "close refused", like an editor
//             asking whether to save; SIGTERM makes it exit with status 15;
//   stubborn  refuses as well, and prints "SIGTERM" for that signal instead
//             of ending, so only SIGKILL ends it.
// With a PROGRAM it plays a terminal: it runs the program as its child with
// the same standard streams, passes SIGTERM on to it, sends it SIGHUP when
// its window closes, and exits with the child's status when the child ends.
#include <xcb/xcb.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

volatile pid_t child = 0;

xcb_atom_t intern(xcb_connection_t* c, const char* name)
{
    auto* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
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
    static const char line[] = "SIGTERM\n";
    [[maybe_unused]] auto ignored = write(STDOUT_FILENO, line, sizeof line - 1);
}

void onChildExit(int)
{
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child)
        _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
}

void runChild(char** argv)
{
    std::signal(SIGCHLD, onChildExit);
    const pid_t forked = fork();
    if (forked == 0) {
        execv(argv[0], argv);
        _exit(127);
    }
    child = forked;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    const std::string mode = argv[2];
    std::signal(SIGTERM, mode == "stubborn" ? noteTerm : onTerm);
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return 3;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 64, 64, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    const uint32_t pid = static_cast<uint32_t>(getpid());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, intern(c, "_NET_WM_PID"),
                        XCB_ATOM_CARDINAL, 32, 1, &pid);
    const std::string wmClass = std::string(argv[1]) + '\0' + argv[1] + '\0';
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        static_cast<uint32_t>(wmClass.size()), wmClass.data());
    const xcb_atom_t deleteWindow = intern(c, "WM_DELETE_WINDOW");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, intern(c, "WM_PROTOCOLS"), XCB_ATOM_ATOM,
                        32, 1, &deleteWindow);
    xcb_map_window(c, window);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); // a round trip
    std::printf("%u\n", window);
    std::fflush(stdout);
    if (argc > 3)
        runChild(argv + 3);
    int status = 4; // the display went away
    while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
        const bool closing =
            (event->response_type & 0x7f) == XCB_CLIENT_MESSAGE &&
            reinterpret_cast<xcb_client_message_event_t*>(event)->data.data32[0] == deleteWindow;
        std::free(event);
        if (closing && mode == "close") {
            status = 0;
            break;
        }
        if (closing) {
            std::printf("close refused\n");
            std::fflush(stdout);
        }
    }
    xcb_disconnect(c);
    if (child > 0) {
        std::signal(SIGCHLD, SIG_DFL);
        kill(child, SIGHUP);
        waitpid(child, nullptr, 0);
    }
    return status;
}
