#pragma once

#include "backend_choice.h"
#include "platform/color_scheme.h"
#include "platform/desktop_checks.h"
#include "platform/linux/pipewire/screen_stream.h"
#include "platform/linux/portal/portal_backend.h"
#include "platform/machine.h"
#include "platform/notifications.h"
#include "platform/platform.h"
#include "platform/screen_capture.h"
#include "platform/service_advertiser.h"
#include "protocol/types.h"
#include "server/relay_links.h"
#include "settings/settings.h"

#include <QString>

#include <memory>
#include <optional>

// The one place that knows which system the program runs on and picks its
// backends; everything else sees only the platform interfaces.
namespace orvane {

// Tells Qt which windowing system to use, before the application object
// exists: the desktop's when windows are wanted and it answers, else none
// (off screen), so that icon rendering works either way.
void chooseGuiPlatform(bool windows);

// Whether windows can be shown: Qt was told a real platform, a Wayland
// compositor's socket is there, or an X display answers.
// The connection that found the display stays open until
// releaseDisplayProbe(), to be called once Qt has its own: an X server left
// without clients resets itself, and turns away whoever connects meanwhile;
// Qt then gives up (or, sent off screen, shows the window nowhere).
bool guiDisplayReachable();
void releaseDisplayProbe();

// The computer's name as people know it.
QString computerName();

// The ways input, screen pictures and windows reach this session, asked
// once at start.
struct DesktopChoice {
    DesktopBackend backend = DesktopBackend::x11;
    WindowBackend windows = WindowBackend::x11;
};
DesktopChoice chooseDesktop();

// What reaches the desktop: the command families and the screen, on the
// backend chosen for the session.
struct Desktop {
    DesktopBackend backend = DesktopBackend::x11;
    WindowBackend windows = WindowBackend::x11;
    Platform platform;
    // Where screen streams come from on Wayland; null on X11.
    std::shared_ptr<ScreenStreamOpener> streams;
    std::unique_ptr<ScreenCapture> capture;
    // The user's answers to the desktop portal, when it is the way in.
    std::shared_ptr<PortalAccess> portal;
    // Whether a Wayland window backend answers, and turning it on; unset on
    // X11, whose window manager the display check covers.
    std::function<DesktopCheck()> windowsCheck;
    std::function<void()> turnOnWindows;
    // Keys and the screen through a wlroots compositor's own protocols.
    std::function<DesktopCheck()> inputCheck, screenCheck;
};
Desktop makeDesktop(const DesktopChoice& choice, Settings& settings);
// Whether the screen may be shared: the displays can be seen, and the
// desktop's dialog, where it asks, was not declined.
bool screenSharingAllowed(Desktop& desktop);
// The advertisement of the listener on the local network.
std::unique_ptr<ServiceAdvertiser> makeServiceAdvertiser();
// What the computer is and how busy it is.
std::unique_ptr<Machine> makeMachine();
// What the window's Permissions section checks, and the look for a tray.
std::unique_ptr<DesktopChecks> makeDesktopChecks(const Desktop& desktop);
// The desktop's light or dark preference, and its notifications: for the
// program with windows only.
std::unique_ptr<ColorSchemeSource> makeColorSchemeSource();
std::unique_ptr<DesktopNotifications> makeDesktopNotifications();

// The relay remote access goes through: ORVANE_RELAY_URL, else the settings
// file's relayURL, else the address this build was made with; may be empty.
QString relayUrl(const Settings& settings);
// How links to the relay are made: TLS WebSockets that trust the system's
// authorities and, when ORVANE_RELAY_CA_FILE names a file, its authorities
// too (a relay of one's own with a private authority).
RelayLinks::MakeTransport makeRelayTransport();

// The desktop's own picture of a computer, of a laptop when `laptop`, as a
// 256-pixel PNG; nothing when the desktop has none.
std::optional<Bytes> computerPicture(bool laptop);

} // namespace orvane
