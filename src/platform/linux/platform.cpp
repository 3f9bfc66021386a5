#include "platform/platform.h"

#include "x11_connection.h"

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
    return platform;
}

bool desktopDisplayReachable()
{
    X11Connection probe;
    return probe.ensureConnected();
}

} // namespace orvane
