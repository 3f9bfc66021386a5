#include "x11_screen_capture.h"

#include "x11_connection.h"
#include "x11_display_source.h"
#include "x11_properties.h"
#include "x11_screen_grabber.h"

#include <QCoreApplication>

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <future>
#include <mutex>
#include <string_view>
#include <thread>

namespace orvane {

namespace {

using namespace std::chrono_literals;

// How long a start waits for the capture thread to reach the display, and a
// stop for the thread to end before its connection is cut under it.
constexpr auto openDeadline = 5s;
constexpr auto stopDeadline = 2s;

// What the owner tells the capture thread, and how to wake it. Shared, so a
// thread that had to be left behind never touches freed memory.
struct Control {
    std::mutex lock;
    std::optional<std::pair<std::uint32_t, int>> target; // display and rate
    bool refresh = false;
    bool quit = false;
    int xcbFd = -1;
    const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::promise<void> exited;

    ~Control()
    {
        if (wakeFd >= 0)
            ::close(wakeFd);
    }
    void wake() const
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wakeFd, &one, sizeof one);
    }
};

// Runs on the capture thread until told to quit or the capture ends.
void capture(const std::shared_ptr<Control>& control, X11ScreenGrabber& grabber)
{
    for (;;) {
        std::optional<std::pair<std::uint32_t, int>> target;
        bool refresh = false;
        {
            std::lock_guard guard(control->lock);
            if (control->quit)
                return;
            target.swap(control->target);
            refresh = std::exchange(control->refresh, false);
        }
        if (target)
            grabber.retarget(target->first, target->second);
        if (refresh)
            grabber.owePicture();
        const std::optional<int> timeout = grabber.step();
        if (!timeout)
            return;
        pollfd fds[2] = {{grabber.fileDescriptor(), POLLIN, 0}, {control->wakeFd, POLLIN, 0}};
        ::poll(fds, 2, *timeout);
        std::uint64_t drained = 0;
        if (fds[1].revents & POLLIN) [[maybe_unused]]
            const auto read = ::read(control->wakeFd, &drained, sizeof drained);
    }
}

// One capture on its own thread.
class CaptureThread {
public:
    static std::unique_ptr<CaptureThread> start(std::uint32_t displayID, int framesPerSecond,
                                                ScreenCapture::EventSink sink, QString* error);
    ~CaptureThread();

    void retarget(std::uint32_t displayID, int framesPerSecond)
    {
        std::lock_guard guard(m_control->lock);
        m_control->target = {displayID, framesPerSecond};
        m_control->wake();
    }
    void refresh()
    {
        std::lock_guard guard(m_control->lock);
        m_control->refresh = true;
        m_control->wake();
    }

private:
    std::shared_ptr<Control> m_control = std::make_shared<Control>();
    std::thread m_thread;
};

std::unique_ptr<CaptureThread> CaptureThread::start(std::uint32_t displayID, int framesPerSecond,
                                                    ScreenCapture::EventSink sink, QString* error)
{
    auto thread = std::make_unique<CaptureThread>();
    std::promise<std::optional<QString>> opened;
    std::future<std::optional<QString>> result = opened.get_future();
    thread->m_thread = std::thread([control = thread->m_control, displayID, framesPerSecond,
                                    sink = std::move(sink), opened = std::move(opened)]() mutable {
        {
            X11ScreenGrabber grabber(std::move(sink));
            std::optional<QString> failed = grabber.open(displayID, framesPerSecond);
            bool quit = false;
            {
                std::lock_guard guard(control->lock);
                control->xcbFd = failed ? -1 : grabber.fileDescriptor();
                quit = control->quit;
            }
            opened.set_value(std::move(failed));
            if (!failed && !quit)
                capture(control, grabber);
        }
        control->exited.set_value();
    });
    pthread_setname_np(thread->m_thread.native_handle(), "orvane-capture");
    if (result.wait_for(openDeadline) != std::future_status::ready) {
        *error = QCoreApplication::translate("X11ScreenCapture", "The display did not answer");
        return nullptr;
    }
    if (std::optional<QString> failed = result.get()) {
        *error = *failed;
        return nullptr;
    }
    return thread;
}

CaptureThread::~CaptureThread()
{
    int xcbFd = -1;
    {
        std::lock_guard guard(m_control->lock);
        m_control->quit = true;
        xcbFd = m_control->xcbFd;
        m_control->wake();
    }
    if (m_control->exited.get_future().wait_for(stopDeadline) == std::future_status::ready) {
        m_thread.join();
    } else if (xcbFd >= 0) {
        // The server does not answer: cutting the connection ends every
        // wait for a reply with an error.
        ::shutdown(xcbFd, SHUT_RDWR);
        m_thread.join();
    } else {
        // Still connecting to a server that does not answer; once it gets
        // through it sees the quit and ends without a word.
        m_thread.detach();
    }
}

class X11ScreenCapture final : public ScreenCapture {
public:
    explicit X11ScreenCapture(std::shared_ptr<X11Connection> x11)
        : m_x11(std::move(x11)), m_monitors(makeX11DisplaySource(m_x11))
    {
    }
    ~X11ScreenCapture() override { stop(); }

    bool available() override { return m_x11->ensureConnected(); }

    std::vector<CaptureDisplay> displays() override
    {
        std::vector<DisplayDescription> monitors = m_monitors->activeDisplays();
        if (monitors.empty())
            return {};
        const double scale = x11DesktopScale(*m_x11);
        std::vector<CaptureDisplay> out;
        for (const DisplayDescription& d : monitors)
            out.push_back({d.id, int(d.bounds.width), int(d.bounds.height), scale, d.isMain});
        return out;
    }

    bool start(std::uint32_t displayID, int framesPerSecond, EventSink onEvent,
               QString* error) override
    {
        stop();
        QString reason;
        m_thread = CaptureThread::start(displayID, framesPerSecond, std::move(onEvent), &reason);
        if (!m_thread && error)
            *error = reason;
        return bool(m_thread);
    }

    bool reconfigure(std::uint32_t displayID, int framesPerSecond, QString* error) override
    {
        const std::vector<CaptureDisplay> known = displays();
        const bool listed = std::any_of(known.begin(), known.end(),
                                        [&](const CaptureDisplay& d) { return d.id == displayID; });
        if (!m_thread || !listed) {
            if (error)
                *error = QCoreApplication::translate("X11ScreenCapture",
                                                     m_thread ? "No display found to share"
                                                              : "The screen is not being captured");
            return false;
        }
        m_thread->retarget(displayID, framesPerSecond);
        return true;
    }

    void refresh() override
    {
        if (m_thread)
            m_thread->refresh();
    }

    void stop() override { m_thread.reset(); }

private:
    std::shared_ptr<X11Connection> m_x11;
    std::unique_ptr<DisplaySource> m_monitors;
    std::unique_ptr<CaptureThread> m_thread;
};

} // namespace

double x11DesktopScale(X11Connection& x11)
{
    if (!x11.ensureConnected())
        return 1;
    xcb_connection_t* c = x11.get();
    const auto reply = takeProperty(
        c, askProperty(c, x11.root(), XCB_ATOM_RESOURCE_MANAGER, XCB_ATOM_STRING, 1 << 16));
    if (!reply || reply->format != 8)
        return 1;
    const std::string_view resources(static_cast<const char*>(xcb_get_property_value(reply.get())),
                                     std::size_t(xcb_get_property_value_length(reply.get())));
    constexpr std::string_view key = "Xft.dpi:";
    std::size_t at = resources.find(key);
    while (at != std::string_view::npos && at != 0 && resources[at - 1] != '\n')
        at = resources.find(key, at + 1);
    if (at == std::string_view::npos)
        return 1;
    std::string_view value = resources.substr(at + key.size());
    value.remove_prefix(std::min(value.find_first_not_of(" \t"), value.size()));
    double dpi = 0;
    std::from_chars(value.data(), value.data() + value.size(), dpi);
    // Toolkits scale by whole or half steps; anything outside sensible
    // densities is a typo.
    return dpi > 96 && dpi <= 480 ? dpi / 96 : 1;
}

std::unique_ptr<ScreenCapture> makeX11ScreenCapture(std::shared_ptr<X11Connection> x11)
{
    if (!x11)
        x11 = std::make_shared<X11Connection>();
    return std::make_unique<X11ScreenCapture>(std::move(x11));
}

} // namespace orvane
