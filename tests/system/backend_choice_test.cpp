// The session's choice of input and screen backend, against stand-ins of
// GNOME's remote-desktop service and the desktop portal on the private
// session bus.
#include "backend_choice.h"
#include "support/scoped_environment.h"
#include "system/fake_service.h"

#include <QDBusConnection>

namespace orvane {
namespace {

using test::FakeService;

TEST(BackendChoice, WaylandPrefersGnomeThenAPortalThatDrivesInputThenXWayland)
{
    ASSERT_EQ(qgetenv("ORVANE_TEST_SESSION_BUS_OK"), "1")
        << "no test session bus: " << qgetenv("ORVANE_TEST_SESSION_BUS_ERROR").toStdString();
    struct Case {
        const char* session;
        bool mutter;
        const char* portalTypes; // nullptr: no portal at all
        DesktopBackend expected;
    };
    const Case cases[] = {
        {"x11", true, "3", DesktopBackend::x11},
        {"wayland", true, "3", DesktopBackend::gnome},
        {"wayland", true, nullptr, DesktopBackend::gnome},
        {"wayland", false, "3", DesktopBackend::portal},
        {"wayland", false, "7", DesktopBackend::portal},
        // A portal that only casts the screen still shows the interface.
        {"wayland", false, "0", DesktopBackend::xwayland},
        {"wayland", false, "1", DesktopBackend::xwayland},
        {"wayland", false, "", DesktopBackend::xwayland},
        {"wayland", false, nullptr, DesktopBackend::xwayland},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.session) + (c.mutter ? " mutter" : "") + " portal " +
                     (c.portalTypes ? c.portalTypes : "none"));
        test::ScopedEnvironment environment;
        environment.set("XDG_SESSION_TYPE", c.session);
        environment.unset("WAYLAND_DISPLAY");
        std::unique_ptr<FakeService> mutter, portal;
        if (c.mutter)
            mutter = FakeService::start({"mutter"});
        if (c.portalTypes)
            portal = FakeService::start(
                *c.portalTypes ? QStringList{"portal", "0", "--device-types", c.portalTypes}
                               : QStringList{"portal", "0"});
        EXPECT_EQ(chooseBackend(readSessionFacts(QDBusConnection::sessionBus())), c.expected);
    }
}

TEST(BackendChoice, AWaylandSocketAloneMakesAWaylandSession)
{
    test::ScopedEnvironment environment;
    environment.unset("XDG_SESSION_TYPE");
    environment.set("WAYLAND_DISPLAY", "wayland-0");
    EXPECT_TRUE(readSessionFacts(QDBusConnection(QStringLiteral("none"))).wayland);
    environment.unset("WAYLAND_DISPLAY");
    EXPECT_FALSE(readSessionFacts(QDBusConnection(QStringLiteral("none"))).wayland);
}

} // namespace
} // namespace orvane
