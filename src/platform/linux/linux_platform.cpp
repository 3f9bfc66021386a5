#include "platform/platform.h"

#include "platform/icons.h"

#include "platform/linux/desktop/theme_icons.h"
#include "platform/linux/x11/x11_connection.h"

namespace orvane {

Platform makePlatform()
{
    auto x11 = std::make_shared<X11Connection>();
    Platform platform;
    platform.input = makeInputDevice(x11);
    platform.displays = makeDisplaySource(x11);
    platform.applications = makeApplicationCatalog(x11);
    platform.workspace = makeWorkspace();
    platform.pasteboard = makePasteboard();
    platform.power = makePower(x11);
    platform.events = makeWorkspaceEvents();
    platform.media = makeMediaPlayers();
    platform.system = makeSystemControls(x11);
    platform.windows = makeWindowSystem(x11);
    return platform;
}

std::optional<QByteArray> themeIconPng(const QStringList& names, int pixels)
{
    for (const QString& name : names) {
        if (auto png = renderIconPng(name, pixels))
            return png;
    }
    return std::nullopt;
}

bool desktopDisplayReachable()
{
    X11Connection probe;
    return probe.ensureConnected();
}

} // namespace orvane
