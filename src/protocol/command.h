#pragma once

#include "short_text.h"
#include "types.h"

#include <variant>

// The commands a phone runs and the pointer events it sends. Tagged unions
// are std::variant over case structs; each case struct names its wire case
// in `caseName` and lists its members, with their wire labels, in `fields`
// (an unlabeled payload is "_0"). The JSON codec is generated from these.
namespace orvane {

// Wire texts of a text-valued enumeration, in declaration order.
template <class E> struct EnumTexts;

template <class E> std::string_view enumText(E value)
{
    return EnumTexts<E>::texts[static_cast<std::size_t>(value)];
}

struct KeyShortcut {
    // A US-layout key. `return_` and `delete_` carry a trailing underscore
    // only because the plain words are C++ keywords.
    enum class Key : std::uint8_t {
        a,
        b,
        c,
        d,
        e,
        f,
        g,
        h,
        i,
        j,
        k,
        l,
        m,
        n,
        o,
        p,
        q,
        r,
        s,
        t,
        u,
        v,
        w,
        x,
        y,
        z,
        digit0,
        digit1,
        digit2,
        digit3,
        digit4,
        digit5,
        digit6,
        digit7,
        digit8,
        digit9,
        space,
        return_,
        tab,
        delete_,
        escape,
        left,
        right,
        up,
        down,
        comma,
        period,
        slash,
        minus,
        equal,
        leftBracket,
        rightBracket,
        grave,
    };
    enum class Modifier : std::uint8_t { control, option, shift, command };

    Key key = Key::a;
    std::vector<Modifier> modifiers;

    bool operator==(const KeyShortcut&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("key", s.key);
        v("modifiers", s.modifiers);
    }
};

template <> struct EnumTexts<KeyShortcut::Key> {
    static constexpr std::array<std::string_view, 53> texts = {
        "a",    "b", "c", "d",     "e",      "f",   "g",      "h",      "i",    "j",     "k",
        "l",    "m", "n", "o",     "p",      "q",   "r",      "s",      "t",    "u",     "v",
        "w",    "x", "y", "z",     "0",      "1",   "2",      "3",      "4",    "5",     "6",
        "7",    "8", "9", "space", "return", "tab", "delete", "escape", "left", "right", "up",
        "down", ",", ".", "/",     "-",      "=",   "[",      "]",      "`",
    };
};

template <> struct EnumTexts<KeyShortcut::Modifier> {
    static constexpr std::array<std::string_view, 4> texts = {"control", "option", "shift",
                                                              "command"};
};

enum class WindowAction : std::uint8_t {
    fullScreen,
    minimize,
    hideApp,
    close,
    leftHalf,
    rightHalf,
    maximize,
    center,
    nextWindow,
};

template <> struct EnumTexts<WindowAction> {
    static constexpr std::array<std::string_view, 9> texts = {
        "fullScreen", "minimize", "hideApp", "close",      "leftHalf",
        "rightHalf",  "maximize", "center",  "nextWindow",
    };
};

enum class MacFolder : std::uint8_t { downloads, desktop, documents, applications, home, orvane };

template <> struct EnumTexts<MacFolder> {
    static constexpr std::array<std::string_view, 6> texts = {
        "downloads", "desktop", "documents", "applications", "home", "orvane",
    };
};

// The player a track or a music search belongs to (NowPlaying::Player).
enum class MediaPlayer : std::uint8_t { spotify, music };

template <> struct EnumTexts<MediaPlayer> {
    static constexpr std::array<std::string_view, 2> texts = {"spotify", "music"};
};

// A case without payload: no members, and `{}` on the wire.
template <class Derived> struct EmptyCase {
    bool operator==(const EmptyCase&) const = default;
    template <class S, class V> static void fields(S&, V&&) {}
};

namespace media {
struct Play : EmptyCase<Play> {
    static constexpr std::string_view caseName = "play";
};
struct Pause : EmptyCase<Pause> {
    static constexpr std::string_view caseName = "pause";
};
struct PlayPause : EmptyCase<PlayPause> {
    static constexpr std::string_view caseName = "playPause";
};
struct Next : EmptyCase<Next> {
    static constexpr std::string_view caseName = "next";
};
struct Previous : EmptyCase<Previous> {
    static constexpr std::string_view caseName = "previous";
};
struct VolumeUp : EmptyCase<VolumeUp> {
    static constexpr std::string_view caseName = "volumeUp";
};
struct VolumeDown : EmptyCase<VolumeDown> {
    static constexpr std::string_view caseName = "volumeDown";
};
struct SetVolume {
    static constexpr std::string_view caseName = "setVolume";
    std::int64_t volume = 0;
    bool operator==(const SetVolume&) const = default;
    template <class S, class V> static void fields(S& s, V&& v) { v("_0", s.volume); }
};
struct Seek {
    static constexpr std::string_view caseName = "seek";
    double position = 0; // seconds
    bool operator==(const Seek&) const = default;
    template <class S, class V> static void fields(S& s, V&& v) { v("_0", s.position); }
};
struct ToggleShuffle : EmptyCase<ToggleShuffle> {
    static constexpr std::string_view caseName = "toggleShuffle";
};
struct Skip {
    static constexpr std::string_view caseName = "skip";
    double seconds = 0; // signed
    bool operator==(const Skip&) const = default;
    template <class S, class V> static void fields(S& s, V&& v) { v("_0", s.seconds); }
};
} // namespace media

using MediaAction = std::variant<media::Play, media::Pause, media::PlayPause, media::Next,
                                 media::Previous, media::VolumeUp, media::VolumeDown,
                                 media::SetVolume, media::Seek, media::ToggleShuffle, media::Skip>;

namespace sys {
struct SetVolume {
    static constexpr std::string_view caseName = "setVolume";
    std::int64_t volume = 0;
    bool operator==(const SetVolume&) const = default;
    template <class S, class V> static void fields(S& s, V&& v) { v("_0", s.volume); }
};
struct VolumeUp : EmptyCase<VolumeUp> {
    static constexpr std::string_view caseName = "volumeUp";
};
struct VolumeDown : EmptyCase<VolumeDown> {
    static constexpr std::string_view caseName = "volumeDown";
};
struct ToggleMute : EmptyCase<ToggleMute> {
    static constexpr std::string_view caseName = "toggleMute";
};
struct BrightnessUp : EmptyCase<BrightnessUp> {
    static constexpr std::string_view caseName = "brightnessUp";
};
struct BrightnessDown : EmptyCase<BrightnessDown> {
    static constexpr std::string_view caseName = "brightnessDown";
};
struct ToggleDarkMode : EmptyCase<ToggleDarkMode> {
    static constexpr std::string_view caseName = "toggleDarkMode";
};
struct DisplaySleep : EmptyCase<DisplaySleep> {
    static constexpr std::string_view caseName = "displaySleep";
};
struct Sleep : EmptyCase<Sleep> {
    static constexpr std::string_view caseName = "sleep";
};
struct Lock : EmptyCase<Lock> {
    static constexpr std::string_view caseName = "lock";
};
struct SetKeepAwake {
    static constexpr std::string_view caseName = "setKeepAwake";
    bool enabled = false;
    bool operator==(const SetKeepAwake&) const = default;
    template <class S, class V> static void fields(S& s, V&& v) { v("_0", s.enabled); }
};
} // namespace sys

using SystemAction = std::variant<sys::SetVolume, sys::VolumeUp, sys::VolumeDown, sys::ToggleMute,
                                  sys::BrightnessUp, sys::BrightnessDown, sys::ToggleDarkMode,
                                  sys::DisplaySleep, sys::Sleep, sys::Lock, sys::SetKeepAwake>;

namespace pointer {
// A position in normalised display coordinates.
struct Positioned {
    double x = 0;
    double y = 0;
    bool operator==(const Positioned&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("x", s.x);
        v("y", s.y);
    }
};
struct Delta {
    double dx = 0;
    double dy = 0;
    bool operator==(const Delta&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("dx", s.dx);
        v("dy", s.dy);
    }
};
struct Click {
    static constexpr std::string_view caseName = "click";
    double x = 0;
    double y = 0;
    bool right = false;
    std::int64_t count = 1;
    bool operator==(const Click&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("x", s.x);
        v("y", s.y);
        v("right", s.right);
        v("count", s.count);
    }
};
struct DragBegan : Positioned {
    static constexpr std::string_view caseName = "dragBegan";
};
struct DragChanged : Positioned {
    static constexpr std::string_view caseName = "dragChanged";
};
struct DragEnded : Positioned {
    static constexpr std::string_view caseName = "dragEnded";
};
struct MoveBy : Delta {
    static constexpr std::string_view caseName = "moveBy";
};
struct ClickAtCursor {
    static constexpr std::string_view caseName = "clickAtCursor";
    bool right = false;
    std::int64_t count = 1;
    bool operator==(const ClickAtCursor&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("right", s.right);
        v("count", s.count);
    }
};
struct PressAtCursor : EmptyCase<PressAtCursor> {
    static constexpr std::string_view caseName = "pressAtCursor";
};
struct DragBy : Delta {
    static constexpr std::string_view caseName = "dragBy";
};
struct ReleaseAtCursor : EmptyCase<ReleaseAtCursor> {
    static constexpr std::string_view caseName = "releaseAtCursor";
};
struct Scroll : Delta {
    static constexpr std::string_view caseName = "scroll";
};
} // namespace pointer

using PointerEvent =
    std::variant<pointer::Click, pointer::DragBegan, pointer::DragChanged, pointer::DragEnded,
                 pointer::MoveBy, pointer::ClickAtCursor, pointer::PressAtCursor, pointer::DragBy,
                 pointer::ReleaseAtCursor, pointer::Scroll>;

namespace command {
// One labeled or unlabeled member; `Tag` makes each case a distinct type.
template <class Tag, class T> struct Single {
    T value{};
    bool operator==(const Single&) const = default;
    template <class S, class V> static void fields(S& s, V&& v) { v(Tag::label, s.value); }
};

#define ORVANE_SINGLE_CASE(Name, wire, label_, Type)                                               \
    struct Name##Tag {                                                                             \
        static constexpr std::string_view label = label_;                                          \
    };                                                                                             \
    struct Name : Single<Name##Tag, Type> {                                                        \
        static constexpr std::string_view caseName = wire;                                         \
    }

ORVANE_SINGLE_CASE(LaunchApp, "launchApp", "bundleID", std::string);
ORVANE_SINGLE_CASE(OpenApp, "openApp", "name", ShortText);
ORVANE_SINGLE_CASE(PressShortcut, "keyShortcut", "_0", orvane::KeyShortcut);
ORVANE_SINGLE_CASE(RunShortcut, "runShortcut", "name", ShortText);
ORVANE_SINGLE_CASE(TypeText, "typeText", "_0", std::string);
ORVANE_SINGLE_CASE(Media, "media", "_0", MediaAction);
ORVANE_SINGLE_CASE(QuitApp, "quitApp", "bundleID", std::string);
ORVANE_SINGLE_CASE(System, "system", "_0", SystemAction);
ORVANE_SINGLE_CASE(SetClipboard, "setClipboard", "_0", std::string);
ORVANE_SINGLE_CASE(OpenURL, "openURL", "_0", std::string);
ORVANE_SINGLE_CASE(Window, "window", "_0", WindowAction);
ORVANE_SINGLE_CASE(QuitAppNamed, "quitAppNamed", "_0", ShortText);
ORVANE_SINGLE_CASE(OpenFolder, "openFolder", "_0", MacFolder);
ORVANE_SINGLE_CASE(FocusWindow, "focusWindow", "_0", std::uint32_t);
ORVANE_SINGLE_CASE(ForceQuit, "forceQuit", "pid", std::int32_t);

struct QuitAllApps : EmptyCase<QuitAllApps> {
    static constexpr std::string_view caseName = "quitAllApps";
};
struct PlayMusic {
    static constexpr std::string_view caseName = "playMusic";
    ShortText query;
    std::optional<MediaPlayer> player;
    bool operator==(const PlayMusic&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("query", s.query);
        v("player", s.player);
    }
};
struct PressKey {
    static constexpr std::string_view caseName = "pressKey";
    orvane::KeyShortcut shortcut;
    std::int64_t times = 1;
    bool operator==(const PressKey&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("_0", s.shortcut);
        v("times", s.times);
    }
};
} // namespace command

using OrvaneCommand =
    std::variant<command::LaunchApp, command::OpenApp, command::PressShortcut, command::RunShortcut,
                 command::TypeText, command::Media, command::QuitApp, command::System,
                 command::SetClipboard, command::OpenURL, command::Window, command::QuitAppNamed,
                 command::QuitAllApps, command::OpenFolder, command::PlayMusic, command::PressKey,
                 command::FocusWindow, command::ForceQuit>;

} // namespace orvane
