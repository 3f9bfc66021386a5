#include "window_catalog.h"

#include "labels.h"

#include <algorithm>
#include <unistd.h>

namespace orvane {

namespace {

// Smaller windows are palettes and toolbars, not something to switch to.
constexpr double minimumWidth = 160;
constexpr double minimumHeight = 120;
constexpr std::size_t maximumListed = 16;
constexpr double thumbnailWidth = 400;
constexpr int thumbnailQuality = 60;

struct Owner {
    QString bundleID;
    QString appName;
};

// The installed application a window belongs to; a window of a program
// without a desktop entry goes by its window class, which is what the
// desktop itself groups such windows by.
Owner ownerOf(const DesktopWindow& window, const std::map<std::int32_t, RunningApp>& running)
{
    if (auto app = running.find(window.pid);
        app != running.end() && !app->second.bundleID.isEmpty())
        return {app->second.bundleID,
                app->second.name.isEmpty() ? app->second.bundleID : app->second.name};
    return {window.applicationClass, window.applicationClass};
}

bool listable(const DesktopWindow& window, std::int32_t self)
{
    return window.normal && window.onScreen && window.pid != self &&
           window.frame.width >= minimumWidth && window.frame.height >= minimumHeight;
}

// Windows that cycling visits: what the user sees as application windows.
bool cyclable(const DesktopWindow& window, std::int32_t self)
{
    return window.normal && window.onScreen && window.pid != self;
}

// One application's windows: those of one process, as on the Mac, where an
// application is a process. A window that names no process goes by its
// class, which is what the desktop groups such windows by.
bool sameApplication(const DesktopWindow& a, const DesktopWindow& b)
{
    if (a.pid > 0)
        return b.pid == a.pid;
    return b.pid <= 0 && !a.applicationClass.isEmpty() && b.applicationClass == a.applicationClass;
}

Rect targetFrame(WindowAction action, const Rect& window, const Rect& area)
{
    const double midX = area.x + area.width / 2;
    const double midY = area.y + area.height / 2;
    switch (action) {
    case WindowAction::leftHalf:
        return {area.x, area.y, area.width / 2, area.height};
    case WindowAction::rightHalf:
        return {midX, area.y, area.width / 2, area.height};
    case WindowAction::maximize:
        return area;
    default:
        break;
    }
    const double width = std::min(window.width, area.width);
    const double height = std::min(window.height, area.height);
    return {midX - width / 2, midY - height / 2, width, height};
}

bool isGeometryAction(WindowAction action)
{
    return action == WindowAction::leftHalf || action == WindowAction::rightHalf ||
           action == WindowAction::maximize || action == WindowAction::center;
}

} // namespace

WindowCatalog::WindowCatalog(WindowSystem& system, ApplicationCatalog& apps,
                             std::function<bool()> accessibilityGranted)
    : m_system(system), m_apps(apps), m_accessibilityGranted(std::move(accessibilityGranted))
{
}

std::vector<MacWindow> WindowCatalog::listWindows()
{
    std::map<std::int32_t, RunningApp> running;
    for (RunningApp& app : m_apps.runningApps())
        running.emplace(app.pid, std::move(app));
    const std::int32_t self = ::getpid();
    std::vector<MacWindow> listed;
    std::map<std::uint32_t, Entry> known;
    for (const DesktopWindow& window : m_system.windows()) {
        if (listed.size() == maximumListed)
            break;
        if (!listable(window, self) || known.count(window.id))
            continue;
        const Owner owner = ownerOf(window, running);
        if (owner.bundleID.isEmpty())
            continue; // nothing to name it by, nor to show as its application
        MacWindow record{window.id, owner.bundleID.toStdString(), owner.appName.toStdString(),
                         window.title.toStdString(), listed.empty()};
        known[window.id] = {record, window.pid, window.frame};
        listed.push_back(std::move(record));
    }
    m_knownWindows = std::move(known);
    return listed;
}

std::optional<QByteArray> WindowCatalog::captureThumbnail(std::uint32_t windowID)
{
    if (!m_knownWindows.count(windowID))
        return std::nullopt;
    const std::optional<Rect> frame = m_system.frame(windowID);
    if (!frame)
        return std::nullopt;
    const double factor = frame->width <= 1 ? 1 : std::min(thumbnailWidth / frame->width, 1.0);
    const int width = static_cast<int>(frame->width * factor);
    const int height = static_cast<int>(frame->height * factor);
    if (width < 1 || height < 1)
        return std::nullopt;
    return m_system.grabJpeg(windowID, width, height, thumbnailQuality);
}

CommandResult WindowCatalog::focus(std::uint32_t windowID)
{
    const auto entry = m_knownWindows.find(windowID);
    // A window that no longer exists is refused by activate(); a process
    // that is gone may have left its window behind for a moment.
    if (entry == m_knownWindows.end() || !ownerRunning(entry->second.pid) ||
        !m_system.activate(windowID))
        return CommandResult::failure(tr("That window is no longer open"));
    return CommandResult::ok(
        tr("Showing %1").arg(QString::fromStdString(entry->second.window.appName)));
}

bool WindowCatalog::ownerRunning(std::int32_t pid)
{
    if (pid <= 0)
        return true; // the window names no process; only the window itself can tell
    const std::vector<RunningApp> running = m_apps.runningApps();
    return std::any_of(running.begin(), running.end(),
                       [pid](const RunningApp& app) { return app.pid == pid; });
}

// Every action applies to the focused window, as the keyboard shortcuts they
// stand for would; without one there is nothing to act on.
CommandResult WindowCatalog::perform(WindowAction action)
{
    if (!m_accessibilityGranted || !m_accessibilityGranted())
        return CommandResult::failure(tr("Accessibility permission required on the Mac"));
    const std::optional<std::uint32_t> active = m_system.activeWindow();
    if (!active)
        return CommandResult::failure(tr("No window to move"));
    if (isGeometryAction(action)) {
        if (!moveWindow(*active, action))
            return CommandResult::failure(tr("No window to move"));
        return CommandResult::ok(windowActionLabel(action));
    }
    switch (action) {
    case WindowAction::fullScreen:
        m_system.toggleFullScreen(*active);
        break;
    case WindowAction::minimize:
        m_system.minimize(*active);
        break;
    case WindowAction::hideApp:
        hideApp(*active);
        break;
    case WindowAction::close:
        m_system.close(*active);
        break;
    case WindowAction::nextWindow:
        nextWindow(*active);
        break;
    default:
        break;
    }
    return CommandResult::ok(windowActionLabel(action));
}

// X11 has no application to hide, only windows: every main window of the
// focused window's process goes, as hiding an application would take them.
void WindowCatalog::hideApp(std::uint32_t active)
{
    const std::vector<DesktopWindow> all = m_system.windows();
    const auto focused = std::find_if(all.begin(), all.end(),
                                      [active](const DesktopWindow& w) { return w.id == active; });
    const std::int32_t pid = focused != all.end() ? focused->pid : 0;
    m_system.minimize(active);
    if (pid <= 0)
        return;
    for (const DesktopWindow& window : all) {
        if (window.id != active && window.pid == pid && window.normal && window.onScreen)
            m_system.minimize(window.id);
    }
}

// Cycles the windows of the focused window's application, as the window
// shortcut does: the next of its windows comes forward and the focused one
// goes to the back, so that repeating the command visits every one of them
// in turn instead of flipping between the top two.
void WindowCatalog::nextWindow(std::uint32_t active)
{
    const std::vector<DesktopWindow> all = m_system.windows();
    const auto focused = std::find_if(all.begin(), all.end(),
                                      [active](const DesktopWindow& w) { return w.id == active; });
    if (focused == all.end())
        return;
    const std::int32_t self = ::getpid();
    std::vector<std::uint32_t> cycle;
    for (const DesktopWindow& window : all) {
        if (cyclable(window, self) && sameApplication(*focused, window))
            cycle.push_back(window.id);
    }
    const auto current = std::find(cycle.begin(), cycle.end(), active);
    if (current == cycle.end()) {
        // A dialog or palette has the focus: its application's front window.
        if (!cycle.empty())
            m_system.activate(cycle.front());
        return;
    }
    if (cycle.size() < 2)
        return;
    const std::size_t next = (std::size_t(current - cycle.begin()) + 1) % cycle.size();
    m_system.sendToBack(active);
    m_system.activate(cycle[next]);
}

bool WindowCatalog::moveWindow(std::uint32_t active, WindowAction action)
{
    const std::optional<Rect> frame = m_system.frame(active);
    if (!frame)
        return false;
    const Point centre{frame->x + frame->width / 2, frame->y + frame->height / 2};
    const std::optional<Rect> area = m_system.workArea(centre);
    if (!area || area->isNull())
        return false;
    m_system.setFrame(active, targetFrame(action, *frame, *area));
    return true;
}

} // namespace orvane
