#pragma once

#include "desktop_commands.h"
#include "families.h"

#include "macinfo/mac_info_provider.h"
#include "macinfo/stats_provider.h"
#include "platform/application_catalog.h"
#include "platform/workspace_events.h"

#include <optional>

namespace orvane {

// What a phone may ask to know, and what the computer tells phones on its
// own: the application catalogue and icons, windows and their pictures,
// usage figures, the clipboard, the machine, what plays, the system state,
// the frontmost and the running applications.
class PhoneQueries {
public:
    struct Sources {
        ApplicationCatalog& applications;
        DesktopCommands& desktop;
        WindowCommands& windows;
        MediaCommands& media;
        SystemCommands& system;
        MacInfoProvider& macInfo;
        StatsProvider& stats;
        WorkspaceEvents* events = nullptr; // none: no frontmost application
    };

    explicit PhoneQueries(Sources sources) : m_sources(sources) {}

    AppCatalogPayload appCatalog();
    // The application's icon as a 128-pixel PNG; nothing for an unknown id.
    std::optional<Bytes> icon(const std::string& bundleID);
    std::vector<MacWindow> windows();
    // Left to right, mirrors left out.
    std::vector<DisplayInfo> displays() { return m_sources.desktop.listDisplays(); }
    std::optional<Bytes> thumbnail(std::uint32_t windowID);
    MacStats stats() { return m_sources.stats.stats(); }
    std::optional<std::string> clipboard();
    MacInfo macInfo(const QString& computerName, bool includeImage)
    {
        return m_sources.macInfo.macInfo(computerName, includeImage);
    }
    std::optional<NowPlaying> nowPlaying() { return m_sources.media.currentNowPlaying(); }
    bool mediaPermissionDenied() const { return m_sources.media.permissionDenied(); }
    SystemState systemState() { return m_sources.system.readSystemState(); }
    // None without an application, for one without an identifier, and for
    // this program itself.
    std::optional<MacApp> frontmostApp();
    // Identifiers of the running applications that have one.
    std::vector<std::string> runningApps();

private:
    Sources m_sources;
};

} // namespace orvane
