#include "sway_windows.h"

#include "sway_ipc.h"

#include <cmath>

namespace orvane {

namespace {

void notify(const std::function<void()>& callback)
{
    if (callback)
        callback();
}

QString pixels(double value)
{
    return QString::number(std::isfinite(value) ? std::lround(std::clamp(value, -1e6, 1e6)) : 0);
}

} // namespace

SwayWindows::SwayWindows(const QString& socketPath, QObject* parent)
    : QObject(parent), m_events(std::make_unique<SwayIpc>(socketPath)),
      m_requests(std::make_unique<SwayIpc>(socketPath))
{
    m_events->onConnected = [this] {
        m_events->request(SwayIpc::subscribe, R"(["window","workspace","output"])",
                          [](std::optional<QByteArray>) {});
        refresh();
    };
    m_events->onEvent = [this](std::uint32_t, const QByteArray&) { refresh(); };
    m_events->onDisconnected = [this] { apply(std::nullopt); };
    m_requests->onConnected = [this] { refresh(); };
}

SwayWindows::~SwayWindows()
{
    m_events->onConnected = nullptr;
    m_events->onEvent = nullptr;
    m_events->onDisconnected = nullptr;
    m_requests->onConnected = nullptr;
}

void SwayWindows::refresh()
{
    if (m_asking) {
        m_askAgain = true;
        return;
    }
    m_asking = true;
    m_askAgain = false;
    m_requests->request(SwayIpc::getTree, {}, [this](std::optional<QByteArray> answer) {
        m_asking = false;
        apply(answer ? parseSwayTree(*answer) : std::nullopt);
        if (m_askAgain)
            refresh();
    });
}

void SwayWindows::apply(std::optional<SwayTree> tree)
{
    const std::optional<std::uint32_t> focusBefore = m_tree.focused;
    const std::set<std::int32_t> pidsBefore = applicationPids();
    m_present = tree.has_value();
    m_tree = tree ? std::move(*tree) : SwayTree{};
    if (applicationPids() != pidsBefore)
        notify(onApplicationsChanged);
    if (m_tree.focused != focusBefore)
        notify(onFrontmostChanged);
}

std::set<std::int32_t> SwayWindows::applicationPids() const
{
    std::set<std::int32_t> pids;
    for (const DesktopWindow& window : m_tree.windows)
        if (window.pid > 0)
            pids.insert(window.pid);
    return pids;
}

const DesktopWindow* SwayWindows::find(std::uint32_t id) const
{
    for (const DesktopWindow& window : m_tree.windows)
        if (window.id == id)
            return &window;
    return nullptr;
}

std::optional<Rect> SwayWindows::frame(std::uint32_t id)
{
    const DesktopWindow* window = find(id);
    if (!window || !window->onScreen)
        return std::nullopt;
    return window->frame;
}

std::optional<Rect> SwayWindows::workArea(Point p)
{
    for (const Rect& area : m_tree.workAreas)
        if (area.contains(p))
            return area;
    if (m_tree.workAreas.empty())
        return std::nullopt;
    return m_tree.workAreas.front();
}

std::optional<std::int32_t> SwayWindows::frontmostPid()
{
    const DesktopWindow* window = m_tree.focused ? find(*m_tree.focused) : nullptr;
    if (!window || window->pid <= 0)
        return std::nullopt;
    return window->pid;
}

bool SwayWindows::command(std::uint32_t id, const QString& what)
{
    if (!find(id) || !m_requests->isConnected())
        return false;
    // Sway's events tell what came of it; its answer says nothing more.
    m_requests->request(SwayIpc::runCommand,
                        QStringLiteral("[con_id=%1] %2").arg(id).arg(what).toUtf8(),
                        [](std::optional<QByteArray>) {});
    return true;
}

bool SwayWindows::activate(std::uint32_t id)
{
    return command(id, QStringLiteral("focus"));
}

void SwayWindows::close(std::uint32_t id)
{
    // Asks the window to close, as its close button would; it may refuse.
    command(id, QStringLiteral("kill"));
}

void SwayWindows::minimize(std::uint32_t id)
{
    command(id, QStringLiteral("move scratchpad"));
}

void SwayWindows::toggleFullScreen(std::uint32_t id)
{
    command(id, QStringLiteral("fullscreen toggle"));
}

void SwayWindows::setFrame(std::uint32_t id, const Rect& frame)
{
    command(id,
            QStringLiteral("fullscreen disable, floating enable, resize set width %1 px height "
                           "%2 px, move absolute position %3 px %4 px")
                .arg(pixels(frame.width), pixels(frame.height), pixels(frame.x), pixels(frame.y)));
    // Sway tells of no resizing: the new frame is read back.
    refresh();
}

} // namespace orvane
