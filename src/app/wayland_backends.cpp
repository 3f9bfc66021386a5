#include "wayland_backends.h"

#include "platform/linux/dbus/session_bus.h"
#include "platform/linux/mutter/mutter_backend.h"

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

// The desktop's events, with the monitors' changes told by GNOME: the X
// server's own, where there is one, speaks only for XWayland and may come
// before GNOME's list of monitors has changed.
class GnomeMonitorEvents final : public WorkspaceEvents {
public:
    GnomeMonitorEvents(std::unique_ptr<WorkspaceEvents> inner,
                       const std::function<void(QObject*, std::function<void()>)>& watchMonitors)
        : m_inner(std::move(inner))
    {
        if (m_inner) {
            m_inner->onFrontmostChanged = [this] { notify(onFrontmostChanged); };
            m_inner->onApplicationsChanged = [this] { notify(onApplicationsChanged); };
            m_inner->onWake = [this] { notify(onWake); };
        }
        watchMonitors(&m_context, [this] { notify(onScreensChanged); });
    }
    std::optional<std::int32_t> frontmostPid() override
    {
        return m_inner ? m_inner->frontmostPid() : std::nullopt;
    }

private:
    static void notify(const std::function<void()>& callback)
    {
        if (callback)
            callback();
    }
    std::unique_ptr<WorkspaceEvents> m_inner;
    QObject m_context; // ends the watch with this object
};

} // namespace

void useGnome(Desktop& desktop)
{
    MutterBackend mutter = makeMutterBackend(sessionBus());
    desktop.platform.events = std::make_unique<GnomeMonitorEvents>(
        std::move(desktop.platform.events), mutter.watchMonitors);
    desktop.platform.input = std::move(mutter.input);
    desktop.platform.pasteboard = std::move(mutter.pasteboard);
    desktop.platform.displays = std::move(mutter.displays);
    desktop.streams = std::move(mutter.streams);
}

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

RemoteDesktopChecks portalChecks(std::shared_ptr<PortalAccess> access)
{
    return {[access] { return approvalCheck(access->inputApproval()); },
            [access] { return approvalCheck(access->screenApproval()); },
            [access] { access->askAgain(); }};
}

} // namespace orvane
