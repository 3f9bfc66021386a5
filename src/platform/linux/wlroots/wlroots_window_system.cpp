#include "wlroots_window_system.h"

#include "toplevel_processes.h"
#include "wayland_connection.h"
#include "wayland_outputs.h"

#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <QObject>

#include <wayland-client.h>

#include <algorithm>
#include <list>

namespace orvane {

namespace {

// Desktops with more windows than this are not ones a phone can list.
constexpr std::size_t maxWindows = 1024;
constexpr int maxTitleChars = 1024;
constexpr std::size_t maxOutputs = 16;

class WlrootsWindowSystem;

struct Toplevel {
    WlrootsWindowSystem* owner = nullptr;
    zwlr_foreign_toplevel_handle_v1* handle = nullptr;
    std::uint32_t id = 0;
    DesktopWindow shown;   // as of the last `done`
    DesktopWindow pending; // changes until the next `done`
    bool activated = false;
    bool pendingActivated = false;
    bool fullscreen = false;
    bool pendingFullscreen = false;
    bool announced = false;          // a first `done` came
    std::vector<wl_output*> outputs; // those it is on, as each of our bindings of them
};

class WlrootsWindowSystem final : public WlrootsWindows {
public:
    explicit WlrootsWindowSystem(std::shared_ptr<WaylandConnection> connection);
    ~WlrootsWindowSystem() override;

    bool isAvailable() override { return m_connection->isConnected() && m_manager; }
    std::vector<DesktopWindow> windows() override;
    std::optional<std::uint32_t> activeWindow() override;
    std::optional<Rect> frame(std::uint32_t) override { return std::nullopt; }
    std::optional<Rect> workArea(Point p) override;
    bool activate(std::uint32_t id) override;
    void sendToBack(std::uint32_t) override {}
    void close(std::uint32_t id) override;
    void minimize(std::uint32_t id) override;
    void toggleFullScreen(std::uint32_t id) override;
    void setFrame(std::uint32_t, const Rect&) override {}
    std::optional<QByteArray> grabJpeg(std::uint32_t, int, int, int) override
    {
        return std::nullopt;
    }
    std::optional<std::int32_t> frontmostPid() override;

    // A toplevel's changes are complete: tells who listens what they change.
    void announce(Toplevel& toplevel);

    static void toplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                         zwlr_foreign_toplevel_handle_v1* handle);
    static void finished(void* data, zwlr_foreign_toplevel_manager_v1*);

private:
    void setUp();
    Toplevel* find(std::uint32_t id);
    Rect outputRect(const std::vector<wl_output*>& on) const;
    void forget(Toplevel* toplevel);

    std::shared_ptr<WaylandConnection> m_connection;
    QObject m_context;
    wl_seat* m_seat = nullptr;
    zwlr_foreign_toplevel_manager_v1* m_manager = nullptr;
    std::unique_ptr<WaylandOutputs> m_outputs;
    std::list<Toplevel> m_toplevels; // stable addresses: libwayland holds them
    std::uint32_t m_nextId = 1;
    ToplevelProcesses m_processes;
    std::uint32_t m_active = 0; // the activated toplevel, as last told

    friend struct ToplevelEvents;
};

struct ToplevelEvents {
    static Toplevel& of(void* data) { return *static_cast<Toplevel*>(data); }
    static void title(void* data, zwlr_foreign_toplevel_handle_v1*, const char* title)
    {
        of(data).pending.title = QString::fromUtf8(title).left(maxTitleChars);
    }
    static void appId(void* data, zwlr_foreign_toplevel_handle_v1*, const char* appId)
    {
        of(data).pending.applicationClass = QString::fromUtf8(appId).left(maxTitleChars);
    }
    static void outputEnter(void* data, zwlr_foreign_toplevel_handle_v1*, wl_output* output)
    {
        std::vector<wl_output*>& outputs = of(data).outputs;
        if (outputs.size() < maxOutputs)
            outputs.push_back(output);
    }
    static void outputLeave(void* data, zwlr_foreign_toplevel_handle_v1*, wl_output* output)
    {
        std::erase(of(data).outputs, output);
    }
    static void state(void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states)
    {
        Toplevel& toplevel = of(data);
        toplevel.pendingActivated = false;
        toplevel.pendingFullscreen = false;
        toplevel.pending.onScreen = true;
        const auto* begin = static_cast<const std::uint32_t*>(states->data);
        for (const std::uint32_t* it = begin; it < begin + states->size / sizeof(*it); ++it) {
            if (*it == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MINIMIZED)
                toplevel.pending.onScreen = false;
            else if (*it == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED)
                toplevel.pendingActivated = true;
            else if (*it == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_FULLSCREEN)
                toplevel.pendingFullscreen = true;
        }
    }
    static void done(void* data, zwlr_foreign_toplevel_handle_v1*)
    {
        Toplevel& toplevel = of(data);
        toplevel.owner->announce(toplevel);
    }
    static void closed(void* data, zwlr_foreign_toplevel_handle_v1*);
    static void parent(void* data, zwlr_foreign_toplevel_handle_v1*,
                       zwlr_foreign_toplevel_handle_v1* parent)
    {
        // A window with a parent is a dialog, not an application's window.
        of(data).pending.normal = parent == nullptr;
    }
};

constexpr zwlr_foreign_toplevel_handle_v1_listener toplevelListener{
    &ToplevelEvents::title,       &ToplevelEvents::appId, &ToplevelEvents::outputEnter,
    &ToplevelEvents::outputLeave, &ToplevelEvents::state, &ToplevelEvents::done,
    &ToplevelEvents::closed,      &ToplevelEvents::parent};
constexpr zwlr_foreign_toplevel_manager_v1_listener managerListener{&WlrootsWindowSystem::toplevel,
                                                                    &WlrootsWindowSystem::finished};

WlrootsWindowSystem::WlrootsWindowSystem(std::shared_ptr<WaylandConnection> connection)
    : m_connection(std::move(connection))
{
    m_connection->whenSynced(&m_context, [this](bool connected) {
        if (connected)
            setUp();
    });
}

WlrootsWindowSystem::~WlrootsWindowSystem()
{
    for (Toplevel& toplevel : m_toplevels)
        zwlr_foreign_toplevel_handle_v1_destroy(toplevel.handle);
    m_toplevels.clear();
    m_outputs.reset();
    if (m_manager)
        zwlr_foreign_toplevel_manager_v1_destroy(m_manager);
    if (m_seat)
        wl_seat_destroy(m_seat);
    m_connection->flush();
}

void WlrootsWindowSystem::setUp()
{
    m_seat = static_cast<wl_seat*>(m_connection->bind(wl_seat_interface, 1));
    // The outputs first: a window is said to enter only outputs already bound.
    m_outputs = std::make_unique<WaylandOutputs>(*m_connection);
    m_manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(
        m_connection->bind(zwlr_foreign_toplevel_manager_v1_interface, 3));
    if (m_manager)
        zwlr_foreign_toplevel_manager_v1_add_listener(m_manager, &managerListener, this);
    m_connection->flush();
}

void WlrootsWindowSystem::toplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                                   zwlr_foreign_toplevel_handle_v1* handle)
{
    auto* self = static_cast<WlrootsWindowSystem*>(data);
    if (self->m_toplevels.size() >= maxWindows) {
        zwlr_foreign_toplevel_handle_v1_destroy(handle);
        return;
    }
    Toplevel& toplevel = self->m_toplevels.emplace_back();
    toplevel.handle = handle;
    toplevel.id = self->m_nextId++;
    toplevel.pending.id = toplevel.id;
    toplevel.owner = self;
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &toplevelListener, &toplevel);
}

void ToplevelEvents::closed(void* data, zwlr_foreign_toplevel_handle_v1*)
{
    Toplevel& toplevel = of(data);
    toplevel.owner->forget(&toplevel);
}

void WlrootsWindowSystem::announce(Toplevel& toplevel)
{
    const bool first = !toplevel.announced;
    const bool application = first ||
                             toplevel.pending.applicationClass != toplevel.shown.applicationClass ||
                             toplevel.pending.normal != toplevel.shown.normal;
    toplevel.pending.pid = m_processes.pidOf(toplevel.pending.applicationClass);
    toplevel.shown = toplevel.pending;
    toplevel.activated = toplevel.pendingActivated;
    toplevel.fullscreen = toplevel.pendingFullscreen;
    toplevel.announced = true;
    if (application && onApplicationsChanged)
        onApplicationsChanged();
    const std::uint32_t active = activeWindow().value_or(0);
    if (active != m_active) {
        m_active = active;
        if (onFrontmostChanged)
            onFrontmostChanged();
    }
}

void WlrootsWindowSystem::finished(void* data, zwlr_foreign_toplevel_manager_v1*)
{
    auto* self = static_cast<WlrootsWindowSystem*>(data);
    zwlr_foreign_toplevel_manager_v1_destroy(self->m_manager);
    self->m_manager = nullptr;
}

void WlrootsWindowSystem::forget(Toplevel* toplevel)
{
    const bool announced = toplevel->announced;
    zwlr_foreign_toplevel_handle_v1_destroy(toplevel->handle);
    m_toplevels.remove_if([toplevel](const Toplevel& t) { return &t == toplevel; });
    if (announced && onApplicationsChanged)
        onApplicationsChanged();
    if (m_active != 0 && !find(m_active)) {
        m_active = 0;
        if (onFrontmostChanged)
            onFrontmostChanged();
    }
}

Toplevel* WlrootsWindowSystem::find(std::uint32_t id)
{
    for (Toplevel& toplevel : m_toplevels)
        if (toplevel.id == id && toplevel.announced)
            return &toplevel;
    return nullptr;
}

std::vector<DesktopWindow> WlrootsWindowSystem::windows()
{
    std::vector<DesktopWindow> windows;
    // Newest first, the active one before all: the nearest to front to
    // back that the protocol tells.
    for (auto it = m_toplevels.rbegin(); it != m_toplevels.rend(); ++it) {
        if (!it->announced)
            continue;
        DesktopWindow window = it->shown;
        // Where exactly is not told; the output it is on is as near as the
        // protocol comes, and tells a window on screen from one that is not.
        window.frame = outputRect(it->outputs);
        windows.insert(it->activated ? windows.begin() : windows.end(), window);
    }
    return windows;
}

std::optional<std::uint32_t> WlrootsWindowSystem::activeWindow()
{
    for (const Toplevel& toplevel : m_toplevels)
        if (toplevel.announced && toplevel.activated)
            return toplevel.id;
    return std::nullopt;
}

Rect WlrootsWindowSystem::outputRect(const std::vector<wl_output*>& on) const
{
    if (!m_outputs)
        return {};
    const auto outputs = m_outputs->known();
    for (const WaylandOutputs::Output* known : outputs)
        if (std::find(on.begin(), on.end(), known->output) != on.end())
            return known->rect();
    // Not every compositor tells; the window is somewhere on the desktop.
    return outputs.empty() ? Rect{} : outputs.front()->rect();
}

std::optional<Rect> WlrootsWindowSystem::workArea(Point p)
{
    if (!m_outputs)
        return std::nullopt;
    const auto outputs = m_outputs->known();
    for (const WaylandOutputs::Output* output : outputs)
        if (output->rect().contains(p))
            return output->rect();
    if (outputs.empty())
        return std::nullopt;
    return outputs.front()->rect();
}

std::optional<std::int32_t> WlrootsWindowSystem::frontmostPid()
{
    const Toplevel* toplevel = find(m_active);
    if (!toplevel || toplevel->shown.pid <= 0)
        return std::nullopt;
    return toplevel->shown.pid;
}

bool WlrootsWindowSystem::activate(std::uint32_t id)
{
    Toplevel* toplevel = find(id);
    if (!toplevel || !m_seat)
        return false;
    zwlr_foreign_toplevel_handle_v1_activate(toplevel->handle, m_seat);
    m_connection->flush();
    return true;
}

void WlrootsWindowSystem::close(std::uint32_t id)
{
    if (Toplevel* toplevel = find(id)) {
        zwlr_foreign_toplevel_handle_v1_close(toplevel->handle);
        m_connection->flush();
    }
}

void WlrootsWindowSystem::minimize(std::uint32_t id)
{
    if (Toplevel* toplevel = find(id)) {
        zwlr_foreign_toplevel_handle_v1_set_minimized(toplevel->handle);
        m_connection->flush();
    }
}

void WlrootsWindowSystem::toggleFullScreen(std::uint32_t id)
{
    Toplevel* toplevel = find(id);
    if (!toplevel || zwlr_foreign_toplevel_handle_v1_get_version(toplevel->handle) <
                         ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_SET_FULLSCREEN_SINCE_VERSION)
        return;
    if (toplevel->fullscreen)
        zwlr_foreign_toplevel_handle_v1_unset_fullscreen(toplevel->handle);
    else
        zwlr_foreign_toplevel_handle_v1_set_fullscreen(toplevel->handle, nullptr);
    m_connection->flush();
}

} // namespace

std::shared_ptr<WlrootsWindows>
makeWlrootsWindowSystem(std::shared_ptr<WaylandConnection> connection)
{
    return std::make_shared<WlrootsWindowSystem>(std::move(connection));
}

} // namespace orvane
