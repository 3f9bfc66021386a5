#include "linux_workspace_events.h"

#include "platform/linux/dbus/sleep_watcher.h"
#include "platform/linux/x11/x11_root_watcher.h"

namespace orvane {

namespace {

class LinuxWorkspaceEvents final : public WorkspaceEvents {
public:
    LinuxWorkspaceEvents() : m_sleep([this] { notify(onWake); })
    {
        m_root.onFrontmostChanged = [this] { notify(onFrontmostChanged); };
        m_root.onApplicationsChanged = [this] { notify(onApplicationsChanged); };
        m_root.onScreensChanged = [this] { notify(onScreensChanged); };
    }

    std::optional<std::int32_t> frontmostPid() override { return m_root.frontmostPid(); }

private:
    static void notify(const std::function<void()>& callback)
    {
        if (callback)
            callback();
    }

    X11RootWatcher m_root;
    SleepWatcher m_sleep;
};

} // namespace

std::unique_ptr<WorkspaceEvents> makeLinuxWorkspaceEvents()
{
    return std::make_unique<LinuxWorkspaceEvents>();
}

} // namespace orvane
