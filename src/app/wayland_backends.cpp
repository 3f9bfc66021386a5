#include "wayland_backends.h"

#include "platform/linux/dbus/session_bus.h"
#include "platform/linux/dbus/sleep_watcher.h"
#include "platform/linux/gnome_shell/gnome_shell_extension.h"
#include "platform/linux/gnome_shell/gnome_shell_windows.h"
#include "platform/linux/kwin/kwin_windows.h"
#include "platform/linux/mutter/mutter_backend.h"
#include "platform/linux/sway/sway_ipc.h"
#include "platform/linux/sway/sway_windows.h"
#include "platform/linux/wlroots/wayland_connection.h"
#include "platform/linux/wlroots/wlroots_displays.h"
#include "platform/linux/wlroots/wlroots_input_device.h"
#include "platform/linux/wlroots/wlroots_pasteboard.h"
#include "platform/linux/wlroots/wlroots_screen_capture.h"
#include "platform/linux/wlroots/wlroots_window_system.h"
#include "platform/linux/x11/x11_application_catalog.h"

namespace orvane {

namespace {

DesktopCheck approvalCheck(PortalApproval approval)
{
    switch (approval) {
    case PortalApproval::granted:
        return {true, QStringLiteral("portal")};
    case PortalApproval::asking:
        return {false, QStringLiteral("portal asking")};
    case PortalApproval::declined:
        return {false, QStringLiteral("portal declined"), true};
    case PortalApproval::notAsked:
        return {false, QStringLiteral("portal not asked")};
    case PortalApproval::unavailable:
        break;
    }
    return {false, QStringLiteral("portal")};
}

// One window backend in both of the platform's places: the windows, and
// the desktop's events it tells.
class SharedWindowSystem final : public WindowSystem {
public:
    explicit SharedWindowSystem(std::shared_ptr<WindowSystem> windows) : m_w(std::move(windows)) {}
    bool isAvailable() override { return m_w->isAvailable(); }
    std::vector<DesktopWindow> windows() override { return m_w->windows(); }
    std::optional<std::uint32_t> activeWindow() override { return m_w->activeWindow(); }
    std::optional<Rect> frame(std::uint32_t id) override { return m_w->frame(id); }
    std::optional<Rect> workArea(Point p) override { return m_w->workArea(p); }
    bool activate(std::uint32_t id) override { return m_w->activate(id); }
    void sendToBack(std::uint32_t id) override { m_w->sendToBack(id); }
    void close(std::uint32_t id) override { m_w->close(id); }
    void minimize(std::uint32_t id) override { m_w->minimize(id); }
    void toggleFullScreen(std::uint32_t id) override { m_w->toggleFullScreen(id); }
    void setFrame(std::uint32_t id, const Rect& f) override { m_w->setFrame(id, f); }
    std::optional<QByteArray> grabJpeg(std::uint32_t id, int width, int height,
                                       int quality) override
    {
        return m_w->grabJpeg(id, width, height, quality);
    }

private:
    std::shared_ptr<WindowSystem> m_w;
};

// The desktop's events as a window backend tells them (the frontmost
// window, the applications, and the monitors where it knows them), with
// waking from sleep from logind.
class WindowBackendEvents final : public WorkspaceEvents {
public:
    template <class Backend>
    explicit WindowBackendEvents(std::shared_ptr<Backend> backend)
        : m_backend(backend), m_events(*backend), m_sleep([this] { notify(onWake); })
    {
        m_events.onFrontmostChanged = [this] { notify(onFrontmostChanged); };
        m_events.onApplicationsChanged = [this] { notify(onApplicationsChanged); };
        m_events.onScreensChanged = [this] { screensChanged(); };
    }
    ~WindowBackendEvents() override
    {
        m_events.onFrontmostChanged = m_events.onApplicationsChanged = m_events.onScreensChanged =
            nullptr;
    }
    std::optional<std::int32_t> frontmostPid() override { return m_events.frontmostPid(); }
    void screensChanged() { notify(onScreensChanged); }

    QObject context; // ends watches of the monitors with this object

private:
    static void notify(const std::function<void()>& callback)
    {
        if (callback)
            callback();
    }
    std::shared_ptr<void> m_backend; // keeps the events' source alive
    WorkspaceEvents& m_events;
    SleepWatcher m_sleep;
};

void usePortal(Desktop& desktop, Settings& settings)
{
    auto token = [&settings](const char* kind) {
        return [&settings, kind = QString::fromLatin1(kind)] { return settings.portalToken(kind); };
    };
    auto keep = [&settings](const char* kind) {
        return [&settings, kind = QString::fromLatin1(kind)](const QString& value) {
            settings.setPortalToken(kind, value);
        };
    };
    PortalBackend portal =
        makePortalBackend(sessionBus(), {token("remoteDesktop"), keep("remoteDesktop"),
                                         token("screenCast"), keep("screenCast")});
    desktop.platform.input = std::move(portal.input);
    desktop.streams = std::move(portal.streams);
    desktop.portal = std::move(portal.access);
}

void useGnome(Desktop& desktop)
{
    MutterBackend mutter = makeMutterBackend(sessionBus());
    desktop.platform.input = std::move(mutter.input);
    desktop.platform.pasteboard = std::move(mutter.pasteboard);
    desktop.platform.displays = std::move(mutter.displays);
    desktop.streams = std::move(mutter.streams);
    auto shell = std::make_shared<GnomeShellWindows>(sessionBus());
    auto events = std::make_unique<WindowBackendEvents>(shell);
    mutter.watchMonitors(&events->context, [events = events.get()] { events->screensChanged(); });
    desktop.platform.events = std::move(events);
    desktop.platform.windows = std::make_unique<SharedWindowSystem>(shell);
    desktop.windowsCheck = [shell] {
        return gnomeShellExtensionCheck(sessionBus(), shell->present());
    };
    desktop.turnOnWindows = [] { turnOnGnomeShellExtension(sessionBus()); };
}

void useKWin(Desktop& desktop)
{
    auto kwin = std::make_shared<KWinWindows>(sessionBus());
    desktop.platform.events = std::make_unique<WindowBackendEvents>(kwin);
    desktop.platform.windows = std::make_unique<SharedWindowSystem>(kwin);
    desktop.windowsCheck = [kwin] { return DesktopCheck{kwin->present(), QStringLiteral("KWin")}; };
}

void useSway(Desktop& desktop)
{
    auto sway = std::make_shared<SwayWindows>(SwayIpc::sessionSocket());
    desktop.platform.events = std::make_unique<WindowBackendEvents>(sway);
    desktop.platform.windows = std::make_unique<SharedWindowSystem>(sway);
    desktop.windowsCheck = [sway] { return DesktopCheck{sway->present(), QStringLiteral("sway")}; };
}

void useWlroots(Desktop& desktop, bool input, bool windows)
{
    std::shared_ptr<WaylandConnection> wayland = WaylandConnection::connect();
    if (!wayland)
        return;
    if (input) {
        desktop.platform.input = makeWlrootsInputDevice(wayland);
        desktop.platform.pasteboard = makeWlrootsPasteboard(wayland);
        desktop.platform.displays = makeWlrootsDisplays(wayland);
        desktop.capture = makeWlrootsScreenCapture(wayland);
        desktop.inputCheck = [wayland] {
            return DesktopCheck{wayland->isConnected() && wlrootsProtocols(*wayland).input(),
                                QStringLiteral("wlroots")};
        };
        desktop.screenCheck = [wayland] {
            return DesktopCheck{wayland->isConnected() && wlrootsProtocols(*wayland).screencopy,
                                QStringLiteral("wlroots")};
        };
    }
    if (windows) {
        std::shared_ptr<WlrootsWindows> toplevels = makeWlrootsWindowSystem(wayland);
        desktop.platform.events = std::make_unique<WindowBackendEvents>(toplevels);
        desktop.platform.windows = std::make_unique<SharedWindowSystem>(toplevels);
        desktop.windowsCheck = [wayland] {
            return DesktopCheck{wayland->isConnected(), QStringLiteral("wlroots")};
        };
    }
}

} // namespace

void useWaylandBackends(Desktop& desktop, Settings& settings)
{
    if (desktop.backend == DesktopBackend::gnome)
        useGnome(desktop);
    else if (desktop.backend == DesktopBackend::portal)
        usePortal(desktop, settings);
    if (desktop.windows == WindowBackend::kwin)
        useKWin(desktop);
    if (desktop.windows == WindowBackend::sway)
        useSway(desktop);
    if (desktop.backend == DesktopBackend::wlroots || desktop.windows == WindowBackend::wlroots)
        useWlroots(desktop, desktop.backend == DesktopBackend::wlroots,
                   desktop.windows == WindowBackend::wlroots);
    if (desktop.windows != WindowBackend::x11)
        desktop.platform.applications =
            std::make_unique<X11ApplicationCatalog>(appWindowsOf(*desktop.platform.windows));
}

RemoteDesktopChecks portalChecks(std::shared_ptr<PortalAccess> access)
{
    RemoteDesktopChecks checks;
    checks.input = [access] { return approvalCheck(access->inputApproval()); };
    checks.screen = [access] { return approvalCheck(access->screenApproval()); };
    checks.askAgain = [access] { access->askAgain(); };
    return checks;
}

} // namespace orvane
