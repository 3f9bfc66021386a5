#pragma once

#include "records.h"

// The one message type exchanged with the phone: 35 cases, 14 from the
// phone and 21 to it.
namespace orvane {

namespace msg {
using command::Single;

#define ORVANE_EMPTY_CASE(Name, wire)                                                              \
    struct Name : EmptyCase<Name> {                                                                \
        static constexpr std::string_view caseName = wire;                                         \
    }

struct Hello {
    static constexpr std::string_view caseName = "hello";
    std::string deviceName;
    Uuid deviceID;
    Bytes publicKey; // 32-byte X25519 key; anything else is ignored by the computer
    bool hasToken = false;
    bool operator==(const Hello&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("deviceName", s.deviceName);
        v("deviceID", s.deviceID);
        v("publicKey", s.publicKey);
        v("hasToken", s.hasToken);
    }
};
struct KeyExchange {
    static constexpr std::string_view caseName = "keyExchange";
    Bytes publicKey;
    bool pairingRequired = false;
    bool operator==(const KeyExchange&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("publicKey", s.publicKey);
        v("pairingRequired", s.pairingRequired);
    }
};
ORVANE_EMPTY_CASE(PairingRequired, "pairingRequired");
ORVANE_SINGLE_CASE(PairingFailed, "pairingFailed", "remainingAttempts", std::int64_t);
ORVANE_SINGLE_CASE(PairingRejected, "pairingRejected", "reason", std::string);
ORVANE_SINGLE_CASE(PairingMethod, "pairingMethod", "qr", bool);
ORVANE_EMPTY_CASE(Authenticate, "authenticate");
ORVANE_SINGLE_CASE(Paired, "paired", "token", std::string);
struct Welcome {
    static constexpr std::string_view caseName = "welcome";
    std::string macName;
    bool accessibilityGranted = false;
    bool operator==(const Welcome&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("macName", s.macName);
        v("accessibilityGranted", s.accessibilityGranted);
    }
};
struct Run {
    static constexpr std::string_view caseName = "run";
    Uuid id;
    OrvaneCommand command;
    bool operator==(const Run&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("id", s.id);
        v("command", s.command);
    }
};
struct Result {
    static constexpr std::string_view caseName = "result";
    Uuid id;
    bool success = false;
    std::string message;
    bool operator==(const Result&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("id", s.id);
        v("success", s.success);
        v("message", s.message);
    }
};
ORVANE_SINGLE_CASE(Info, "macInfo", "_0", orvane::MacInfo);
ORVANE_EMPTY_CASE(RequestInfo, "requestInfo");
ORVANE_SINGLE_CASE(Track, "nowPlaying", "_0", std::optional<orvane::NowPlaying>);
ORVANE_EMPTY_CASE(RequestApps, "requestApps");
ORVANE_SINGLE_CASE(AppCatalog, "appCatalog", "_0", AppCatalogPayload);
ORVANE_SINGLE_CASE(RequestIcons, "requestIcons", "_0", std::vector<std::string>);
struct AppIcon {
    static constexpr std::string_view caseName = "appIcon";
    std::string bundleID;
    Bytes png;
    bool operator==(const AppIcon&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("bundleID", s.bundleID);
        v("png", s.png);
    }
};
ORVANE_SINGLE_CASE(RunningApps, "runningApps", "_0", std::vector<std::string>);
ORVANE_SINGLE_CASE(StartScreenShare, "startScreenShare", "preview", bool);
ORVANE_EMPTY_CASE(StopScreenShare, "stopScreenShare");
ORVANE_SINGLE_CASE(ScreenShareError, "screenShareError", "_0", std::string);
struct Displays {
    static constexpr std::string_view caseName = "displays";
    std::vector<DisplayInfo> displays;
    std::uint32_t selectedID = 0;
    bool operator==(const Displays&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("_0", s.displays);
        v("selectedID", s.selectedID);
    }
};
struct Cursor {
    static constexpr std::string_view caseName = "cursor";
    double x = 0;
    double y = 0;
    bool operator==(const Cursor&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("x", s.x);
        v("y", s.y);
    }
};
ORVANE_SINGLE_CASE(SelectDisplay, "selectDisplay", "_0", std::uint32_t);
ORVANE_SINGLE_CASE(Pointer, "pointer", "_0", PointerEvent);
ORVANE_SINGLE_CASE(FrontmostApp, "frontmostApp", "_0", std::optional<MacApp>);
ORVANE_SINGLE_CASE(State, "systemState", "_0", SystemState);
ORVANE_EMPTY_CASE(RequestClipboard, "requestClipboard");
ORVANE_SINGLE_CASE(Clipboard, "clipboard", "_0", std::optional<std::string>);
ORVANE_EMPTY_CASE(RequestWindows, "requestWindows");
ORVANE_SINGLE_CASE(Windows, "windows", "_0", std::vector<MacWindow>);
struct WindowThumbnail {
    static constexpr std::string_view caseName = "windowThumbnail";
    std::uint32_t id = 0;
    Bytes jpeg;
    bool operator==(const WindowThumbnail&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("id", s.id);
        v("jpeg", s.jpeg);
    }
};
ORVANE_EMPTY_CASE(RequestStats, "requestStats");
ORVANE_SINGLE_CASE(Stats, "stats", "_0", MacStats);

#undef ORVANE_EMPTY_CASE
} // namespace msg

using OrvaneMessage = std::variant<
    msg::Hello, msg::KeyExchange, msg::PairingRequired, msg::PairingFailed, msg::PairingRejected,
    msg::PairingMethod, msg::Authenticate, msg::Paired, msg::Welcome, msg::Run, msg::Result,
    msg::Info, msg::RequestInfo, msg::Track, msg::RequestApps, msg::AppCatalog, msg::RequestIcons,
    msg::AppIcon, msg::RunningApps, msg::StartScreenShare, msg::StopScreenShare,
    msg::ScreenShareError, msg::Displays, msg::Cursor, msg::SelectDisplay, msg::Pointer,
    msg::FrontmostApp, msg::State, msg::RequestClipboard, msg::Clipboard, msg::RequestWindows,
    msg::Windows, msg::WindowThumbnail, msg::RequestStats, msg::Stats>;

static_assert(std::variant_size_v<OrvaneMessage> == 35);
static_assert(std::variant_size_v<OrvaneCommand> == 18);

// The wire name of a message's case, e.g. "requestStats".
std::string_view caseName(const OrvaneMessage& message);

} // namespace orvane
