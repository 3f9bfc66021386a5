#pragma once

#include "client_window.h"
#include "platform/application_catalog.h"
#include "platform/linux/desktop/desktop_entry_index.h"
#include "platform/window_system.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>

namespace orvane {

class X11Connection;

// Where the catalog sees which processes show windows and asks them to
// close: the X server's clients, or the windows a Wayland desktop's window
// backend lists.
struct AppWindowSource {
    std::function<std::vector<ClientWindow>()> list;
    // Asks each window to close; the application decides.
    std::function<void(const std::vector<ClientWindow>&)> requestClose;
};

// The X server's client windows; none without a connection.
AppWindowSource x11AppWindows(std::shared_ptr<X11Connection> x11);
// The windows of `windows`, which must outlive the source's use.
AppWindowSource appWindowsOf(WindowSystem& windows);

// Applications from the XDG desktop entries and the X11 client windows. The
// bundle identifier is the desktop-file id without ".desktop"; hidden,
// NoDisplay and unlaunchable entries are not listed; icons come from the
// icon theme; a force quit is SIGTERM, then SIGKILL.
class X11ApplicationCatalog final : public ApplicationCatalog {
public:
    // How long a force quit lets the process handle SIGTERM (save its state,
    // remove its lock files) before SIGKILL.
    static constexpr std::chrono::milliseconds defaultKillGrace{3000};

    explicit X11ApplicationCatalog(std::shared_ptr<X11Connection> x11,
                                   std::chrono::milliseconds killGrace = defaultKillGrace);
    explicit X11ApplicationCatalog(AppWindowSource windows,
                                   std::chrono::milliseconds killGrace = defaultKillGrace);
    ~X11ApplicationCatalog() override;

    std::vector<InstalledApp> installedApps() override;
    std::optional<InstalledApp> findApp(const QString& bundleID) override;
    std::optional<InstalledApp> defaultAppFor(const QString& mimeType) override;
    std::vector<QString> dockApps() override;
    std::vector<RunningApp> runningApps() override;
    bool launch(const InstalledApp& app) override;
    void terminate(std::int32_t pid) override;
    bool forceTerminate(std::int32_t pid) override;
    std::vector<std::int32_t> sessionProcesses() override;
    std::optional<QByteArray> iconPng(const QString& bundleID, int pixels) override;
    QString ownBundleID() override;

private:
    void scheduleKill(std::int32_t pid, std::uint64_t startTime);

    AppWindowSource m_windows;
    std::chrono::milliseconds m_killGrace;
    DesktopEntryIndex m_index;
    // Owns the pending SIGKILL timers, so they die with the catalog.
    std::unique_ptr<QObject> m_timerContext;
};

} // namespace orvane
