// The JSON the phone reads and writes, as literal texts written by hand from
// the protocol's description, never from the codec's own field lists: a
// mistyped case name, label or enum text, a lost optional or a number of the
// wrong kind shows up here. Each golden literal must decode to its value, and
// the value must encode to the same JSON, member order aside.
#include "protocol/codec.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <sstream>

namespace orvane {
namespace {

using Key = KeyShortcut::Key;
using Mod = KeyShortcut::Modifier;

const Uuid id = *Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
const Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}; // "iVBORw0KGgo="
const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0};                     // "/9j/4A=="

Bytes key32() // "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8="
{
    Bytes key(32);
    for (std::size_t i = 0; i < key.size(); ++i)
        key[i] = std::uint8_t(i);
    return key;
}

// Member order aside; an integer and a float with the same value still differ.
std::string canonical(std::string_view json)
{
    return nlohmann::json::parse(json).dump();
}

template <class T> void expectBothWays(const T& value, std::string_view json)
{
    const auto decoded = decodeJson<T>(json);
    ASSERT_TRUE(decoded.ok()) << json << ": " << decoded.error().message << " at "
                              << decoded.error().where;
    EXPECT_TRUE(*decoded == value) << json;
    const auto encoded = encodeJson(value);
    ASSERT_TRUE(encoded.ok()) << json;
    EXPECT_EQ(canonical(*encoded), canonical(json));
    EXPECT_EQ(encoded->size(), canonical(*encoded).size()) << "not compact: " << *encoded;
}

TEST(WireText, EveryMessageCase)
{
    const MacInfo fullInfo{"Desk", "MacBook Pro", "Mac15,3", "Apple M3", 17179869184, "14.5", 0,
                           true,   false,         1000,      INT64_MAX,  3600.5,      png};
    const MacInfo bareInfo{"Mac", "", "", "", 0, "", {}, false, true, {}, {}, 0.5, {}};
    const NowPlaying track{MediaPlayer::spotify,     "Song", "Band", "LP", true, 12.5, 200.25, 70,
                           "https://i.example/a.jpg"};
    const MacStats stats{
        12.5, INT64_MIN, 34359738368, {{INT32_MIN, "com.apple.Safari", "Safari", 0.25, 1048576}}};
    const std::vector<std::pair<OrvaneMessage, const char*>> rows = {
        {msg::Hello{"iPhone", id, key32(), true},
         R"({"hello":{"deviceName":"iPhone","deviceID":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","publicKey":"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=","hasToken":true}})"},
        {msg::KeyExchange{key32(), false},
         R"({"keyExchange":{"publicKey":"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=","pairingRequired":false}})"},
        {msg::PairingRequired{}, R"({"pairingRequired":{}})"},
        {msg::PairingFailed{{2}}, R"({"pairingFailed":{"remainingAttempts":2}})"},
        {msg::PairingRejected{{"Too many attempts"}},
         R"({"pairingRejected":{"reason":"Too many attempts"}})"},
        {msg::PairingMethod{{true}}, R"({"pairingMethod":{"qr":true}})"},
        {msg::Authenticate{}, R"({"authenticate":{}})"},
        {msg::Paired{{"4OHi4+Tl5ufo6err7O3u7/Dx8vP09fb3+Pn6+/z9/v8="}},
         R"({"paired":{"token":"4OHi4+Tl5ufo6err7O3u7\/Dx8vP09fb3+Pn6+\/z9\/v8="}})"},
        {msg::Welcome{"Desk", true},
         R"({"welcome":{"macName":"Desk","accessibilityGranted":true}})"},
        {msg::Run{id, command::PressShortcut{{KeyShortcut{Key::c, {Mod::command}}}}},
         R"({"run":{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","command":{"keyShortcut":{"_0":{"key":"c","modifiers":["command"]}}}}})"},
        {msg::Result{id, false, "Not a valid link"},
         R"({"result":{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","success":false,"message":"Not a valid link"}})"},
        {msg::Info{{fullInfo}},
         R"({"macInfo":{"_0":{"name":"Desk","modelName":"MacBook Pro","modelIdentifier":"Mac15,3","chip":"Apple M3","memoryBytes":17179869184,"systemVersion":"14.5","batteryPercent":0,"isCharging":true,"isOnACPower":false,"storageFreeBytes":1000,"storageTotalBytes":9223372036854775807,"uptime":3600.5,"imagePNG":"iVBORw0KGgo="}}})"},
        {msg::Info{{bareInfo}},
         R"({"macInfo":{"_0":{"name":"Mac","modelName":"","modelIdentifier":"","chip":"","memoryBytes":0,"systemVersion":"","isCharging":false,"isOnACPower":true,"uptime":0.5}}})"},
        {msg::RequestInfo{}, R"({"requestInfo":{}})"},
        {msg::Track{{track}},
         R"({"nowPlaying":{"_0":{"player":"spotify","title":"Song","artist":"Band","album":"LP","isPlaying":true,"position":12.5,"duration":200.25,"volume":70,"artworkURL":"https:\/\/i.example\/a.jpg"}}})"},
        {msg::Track{}, R"({"nowPlaying":{}})"},
        {msg::RequestApps{}, R"({"requestApps":{}})"},
        {msg::AppCatalog{{{{{"com.apple.Safari", "Safari"}}, {"com.apple.Safari"}, {}}}},
         R"({"appCatalog":{"_0":{"apps":[{"bundleID":"com.apple.Safari","name":"Safari"}],"dock":["com.apple.Safari"],"running":[]}}})"},
        {msg::RequestIcons{{{"com.apple.Safari", "com.apple.Music"}}},
         R"({"requestIcons":{"_0":["com.apple.Safari","com.apple.Music"]}})"},
        {msg::AppIcon{"com.apple.Safari", png},
         R"({"appIcon":{"bundleID":"com.apple.Safari","png":"iVBORw0KGgo="}})"},
        {msg::RunningApps{{{"com.apple.Music"}}}, R"({"runningApps":{"_0":["com.apple.Music"]}})"},
        {msg::StartScreenShare{{true}}, R"({"startScreenShare":{"preview":true}})"},
        {msg::StopScreenShare{}, R"({"stopScreenShare":{}})"},
        {msg::ScreenShareError{{"No display"}}, R"({"screenShareError":{"_0":"No display"}})"},
        {msg::Displays{{{UINT32_MAX, "Studio Display", false, true, 5120, 2880}}, UINT32_MAX},
         R"({"displays":{"_0":[{"id":4294967295,"name":"Studio Display","isBuiltIn":false,"isMain":true,"width":5120,"height":2880}],"selectedID":4294967295}})"},
        {msg::Cursor{0.5, -0.25}, R"({"cursor":{"x":0.5,"y":-0.25}})"},
        {msg::SelectDisplay{{UINT32_MAX}}, R"({"selectDisplay":{"_0":4294967295}})"},
        {msg::Pointer{{pointer::Click{0.5, 0.25, false, 2}}},
         R"({"pointer":{"_0":{"click":{"x":0.5,"y":0.25,"right":false,"count":2}}}})"},
        {msg::FrontmostApp{{MacApp{"com.apple.Terminal", "Terminal"}}},
         R"({"frontmostApp":{"_0":{"bundleID":"com.apple.Terminal","name":"Terminal"}}})"},
        {msg::FrontmostApp{}, R"({"frontmostApp":{}})"},
        {msg::State{{SystemState{40, false, true, true}}},
         R"({"systemState":{"_0":{"volume":40,"isMuted":false,"isDarkMode":true,"keepsAwake":true}}})"},
        {msg::RequestClipboard{}, R"({"requestClipboard":{}})"},
        {msg::Clipboard{{"hello"}}, R"({"clipboard":{"_0":"hello"}})"},
        {msg::Clipboard{{"caf\xC3\xA9 \xF0\x9F\x8E\xB5 \"q\"\n"}},
         R"({"clipboard":{"_0":"caf\u00e9 \ud83c\udfb5 \"q\"\n"}})"},
        {msg::Clipboard{}, R"({"clipboard":{}})"},
        {msg::RequestWindows{}, R"({"requestWindows":{}})"},
        {msg::Windows{{{{UINT32_MAX, "com.apple.Terminal", "Terminal", "", true}}}},
         R"({"windows":{"_0":[{"id":4294967295,"bundleID":"com.apple.Terminal","appName":"Terminal","title":"","isFrontmost":true}]}})"},
        {msg::WindowThumbnail{7, jpeg}, R"({"windowThumbnail":{"id":7,"jpeg":"\/9j\/4A=="}})"},
        {msg::RequestStats{}, R"({"requestStats":{}})"},
        {msg::Stats{{stats}},
         R"({"stats":{"_0":{"cpu":12.5,"memoryUsed":-9223372036854775808,"memoryTotal":34359738368,"apps":[{"pid":-2147483648,"bundleID":"com.apple.Safari","name":"Safari","cpu":0.25,"memory":1048576}]}}})"},
    };
    for (const auto& [value, json] : rows)
        expectBothWays(value, json);
}

TEST(WireText, EveryPointerCase)
{
    const std::vector<std::pair<PointerEvent, const char*>> rows = {
        {pointer::Click{0.5, 0.25, true, 1},
         R"({"click":{"x":0.5,"y":0.25,"right":true,"count":1}})"},
        {pointer::DragBegan{{0.125, 0.5}}, R"({"dragBegan":{"x":0.125,"y":0.5}})"},
        {pointer::DragChanged{{0.25, 0.5}}, R"({"dragChanged":{"x":0.25,"y":0.5}})"},
        {pointer::DragEnded{{0.375, 0.5}}, R"({"dragEnded":{"x":0.375,"y":0.5}})"},
        {pointer::MoveBy{{-1.5, 2.5}}, R"({"moveBy":{"dx":-1.5,"dy":2.5}})"},
        {pointer::ClickAtCursor{true, 3}, R"({"clickAtCursor":{"right":true,"count":3}})"},
        {pointer::PressAtCursor{}, R"({"pressAtCursor":{}})"},
        {pointer::DragBy{{3.5, -4.5}}, R"({"dragBy":{"dx":3.5,"dy":-4.5}})"},
        {pointer::ReleaseAtCursor{}, R"({"releaseAtCursor":{}})"},
        {pointer::Scroll{{0.5, -12.5}}, R"({"scroll":{"dx":0.5,"dy":-12.5}})"},
    };
    for (const auto& [value, json] : rows)
        expectBothWays(value, json);
}

TEST(WireText, EveryCommandCase)
{
    const std::vector<std::pair<OrvaneCommand, const char*>> rows = {
        {command::LaunchApp{{"com.apple.Safari"}},
         R"({"launchApp":{"bundleID":"com.apple.Safari"}})"},
        {command::OpenApp{{"Safari"}}, R"({"openApp":{"name":"Safari"}})"},
        {command::PressShortcut{{{Key::c, {Mod::control, Mod::option, Mod::shift, Mod::command}}}},
         R"({"keyShortcut":{"_0":{"key":"c","modifiers":["control","option","shift","command"]}}})"},
        {command::RunShortcut{{"Morning"}}, R"({"runShortcut":{"name":"Morning"}})"},
        {command::TypeText{{"Hi there"}}, R"({"typeText":{"_0":"Hi there"}})"},
        {command::Media{{media::Play{}}}, R"({"media":{"_0":{"play":{}}}})"},
        {command::Media{{media::Pause{}}}, R"({"media":{"_0":{"pause":{}}}})"},
        {command::Media{{media::PlayPause{}}}, R"({"media":{"_0":{"playPause":{}}}})"},
        {command::Media{{media::Next{}}}, R"({"media":{"_0":{"next":{}}}})"},
        {command::Media{{media::Previous{}}}, R"({"media":{"_0":{"previous":{}}}})"},
        {command::Media{{media::VolumeUp{}}}, R"({"media":{"_0":{"volumeUp":{}}}})"},
        {command::Media{{media::VolumeDown{}}}, R"({"media":{"_0":{"volumeDown":{}}}})"},
        {command::Media{{media::SetVolume{40}}}, R"({"media":{"_0":{"setVolume":{"_0":40}}}})"},
        {command::Media{{media::Seek{93.5}}}, R"({"media":{"_0":{"seek":{"_0":93.5}}}})"},
        {command::Media{{media::ToggleShuffle{}}}, R"({"media":{"_0":{"toggleShuffle":{}}}})"},
        {command::Media{{media::Skip{-15.5}}}, R"({"media":{"_0":{"skip":{"_0":-15.5}}}})"},
        {command::QuitApp{{"com.spotify.client"}},
         R"({"quitApp":{"bundleID":"com.spotify.client"}})"},
        {command::System{{sys::SetVolume{-3}}}, R"({"system":{"_0":{"setVolume":{"_0":-3}}}})"},
        {command::System{{sys::VolumeUp{}}}, R"({"system":{"_0":{"volumeUp":{}}}})"},
        {command::System{{sys::VolumeDown{}}}, R"({"system":{"_0":{"volumeDown":{}}}})"},
        {command::System{{sys::ToggleMute{}}}, R"({"system":{"_0":{"toggleMute":{}}}})"},
        {command::System{{sys::BrightnessUp{}}}, R"({"system":{"_0":{"brightnessUp":{}}}})"},
        {command::System{{sys::BrightnessDown{}}}, R"({"system":{"_0":{"brightnessDown":{}}}})"},
        {command::System{{sys::ToggleDarkMode{}}}, R"({"system":{"_0":{"toggleDarkMode":{}}}})"},
        {command::System{{sys::DisplaySleep{}}}, R"({"system":{"_0":{"displaySleep":{}}}})"},
        {command::System{{sys::Sleep{}}}, R"({"system":{"_0":{"sleep":{}}}})"},
        {command::System{{sys::Lock{}}}, R"({"system":{"_0":{"lock":{}}}})"},
        {command::System{{sys::SetKeepAwake{true}}},
         R"({"system":{"_0":{"setKeepAwake":{"_0":true}}}})"},
        {command::SetClipboard{{"copied"}}, R"({"setClipboard":{"_0":"copied"}})"},
        {command::OpenURL{{"https://example.com/a?b=c"}},
         R"({"openURL":{"_0":"https://example.com/a?b=c"}})"},
        {command::Window{{WindowAction::leftHalf}}, R"({"window":{"_0":"leftHalf"}})"},
        {command::QuitAppNamed{{"Safari"}}, R"({"quitAppNamed":{"_0":"Safari"}})"},
        {command::QuitAllApps{}, R"({"quitAllApps":{}})"},
        {command::OpenFolder{{MacFolder::downloads}}, R"({"openFolder":{"_0":"downloads"}})"},
        {command::PlayMusic{"jazz", MediaPlayer::music},
         R"({"playMusic":{"query":"jazz","player":"music"}})"},
        {command::PlayMusic{"jazz", {}}, R"({"playMusic":{"query":"jazz"}})"},
        {command::PressKey{{Key::down, {}}, 3},
         R"({"pressKey":{"_0":{"key":"down","modifiers":[]},"times":3}})"},
        {command::FocusWindow{{UINT32_MAX}}, R"({"focusWindow":{"_0":4294967295}})"},
        {command::ForceQuit{{INT32_MAX}}, R"({"forceQuit":{"pid":2147483647}})"},
    };
    for (const auto& [value, json] : rows)
        expectBothWays(value, json);
}

std::vector<std::string> words(std::string_view text)
{
    std::vector<std::string> out;
    std::istringstream in{std::string(text)};
    for (std::string word; in >> word;)
        out.push_back(word);
    return out;
}

// Every text-valued enumeration, its texts in declaration order, inside the
// command that carries it.
TEST(WireText, EveryEnumText)
{
    const auto keys =
        words("a b c d e f g h i j k l m n o p q r s t u v w x y z 0 1 2 3 4 5 6 7 8 9 "
              "space return tab delete escape left right up down , . / - = [ ] `");
    ASSERT_EQ(keys.size(), 53u);
    for (std::size_t i = 0; i < keys.size(); ++i)
        expectBothWays<OrvaneCommand>(command::PressShortcut{{{Key(i), {}}}},
                                      R"({"keyShortcut":{"_0":{"key":")" + keys[i] +
                                          R"(","modifiers":[]}}})");
    const auto actions =
        words("fullScreen minimize hideApp close leftHalf rightHalf maximize center nextWindow");
    for (std::size_t i = 0; i < actions.size(); ++i)
        expectBothWays<OrvaneCommand>(command::Window{{WindowAction(i)}},
                                      R"({"window":{"_0":")" + actions[i] + R"("}})");
    const auto folders = words("downloads desktop documents applications home orvane");
    for (std::size_t i = 0; i < folders.size(); ++i)
        expectBothWays<OrvaneCommand>(command::OpenFolder{{MacFolder(i)}},
                                      R"({"openFolder":{"_0":")" + folders[i] + R"("}})");
    const auto players = words("spotify music");
    for (std::size_t i = 0; i < players.size(); ++i)
        expectBothWays<OrvaneCommand>(command::PlayMusic{"", MediaPlayer(i)},
                                      R"({"playMusic":{"query":"","player":")" + players[i] +
                                          R"("}})");
}

// A message padded with arrays nested `depth` deep.
std::string nested(int depth)
{
    return R"({"requestStats":{},"x":)" + std::string(depth, '[') + std::string(depth, ']') + "}";
}

// Other spellings a sender may use, which decode to the same values.
TEST(WireText, AcceptedSpellings)
{
    const std::vector<std::pair<std::string, OrvaneMessage>> rows = {
        {R"({"nowPlaying":{"_0":null}})", msg::Track{}},
        {R"({"frontmostApp":{"_0":null}})", msg::FrontmostApp{}},
        {R"({"requestStats":{"unexpected":1}})", msg::RequestStats{}},
        {R"({"pointer":{"_0":{"click":{"x":0.5,"y":0.25,"right":false,"count":2}}},"foo":1})",
         msg::Pointer{{pointer::Click{0.5, 0.25, false, 2}}}},
        {R"({"cursor":{"x":3,"y":-1}})", msg::Cursor{3, -1}}, // integers are fine doubles
        {R"({"result":{"id":"e621e1f8-C36C-495a-93fc-0c247a3e6e5f","success":true,"message":""}})",
         msg::Result{id, true, ""}},
        {R"({"nowPlaying":{"_0":{"player":"music","title":"","artist":"","album":"","isPlaying":false,"position":0,"duration":0,"volume":50,"artworkURL":null}}})",
         msg::Track{{NowPlaying{MediaPlayer::music, "", "", "", false, 0, 0, 50, {}}}}},
        {nested(63), msg::RequestStats{}}, // 64 levels with the outer object
    };
    for (const auto& [json, value] : rows) {
        const auto decoded = decodeMessage(asBytes(json));
        ASSERT_TRUE(decoded.ok()) << json << ": " << decoded.error().message;
        EXPECT_TRUE(*decoded == value) << json;
    }
}

struct Refused {
    std::string json;
    ErrorKind kind;
    std::string where = {};
};

// Each row fails to decode, for the reason it names.
template <class T> void expectRefused(const std::vector<Refused>& rows)
{
    for (const auto& row : rows) {
        const auto decoded = decodeJson<T>(row.json);
        ASSERT_FALSE(decoded.ok()) << row.json;
        EXPECT_EQ(decoded.error().kind, row.kind) << row.json;
        if (!row.where.empty()) {
            EXPECT_EQ(decoded.error().where, row.where);
        }
    }
}

TEST(WireText, RefusedMessages)
{
    const std::string run = R"({"run":{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","command":)";
    expectRefused<OrvaneMessage>({
        {R"({"requestStats":null})", ErrorKind::wrongType},
        {R"({"requestStats":true})", ErrorKind::wrongType},
        {R"({"requestStats":[]})", ErrorKind::wrongType},
        {R"([{"requestStats":{}}])", ErrorKind::wrongType},
        {R"({})", ErrorKind::caseKeys},
        {R"({"foo":{}})", ErrorKind::caseKeys},
        {R"({"pointer":{"_0":{"pressAtCursor":{}}},"cursor":{"x":1,"y":2}})", ErrorKind::caseKeys},
        {run + R"({"media":{"_0":{"play":{},"pause":{}}}}}})", ErrorKind::caseKeys,
         "run.command.media._0"},
        {run + R"({"quitAllApps":{}}}})" + "x", ErrorKind::malformed},
        {R"({"nowPlaying":{"_0":5}})", ErrorKind::wrongType},
        {R"({"selectDisplay":{}})", ErrorKind::missing},
        {R"({"selectDisplay":{"_0":-1}})", ErrorKind::outOfRange},
        {R"({"selectDisplay":{"_0":4294967296}})", ErrorKind::outOfRange, "selectDisplay._0"},
        {R"({"selectDisplay":{"_0":1.0}})", ErrorKind::wrongType},
        {R"({"selectDisplay":{"_0":1e2}})", ErrorKind::wrongType},
        {R"({"selectDisplay":{"_0":"1"}})", ErrorKind::wrongType},
        {R"({"pairingFailed":{"remainingAttempts":9223372036854775808}})", ErrorKind::outOfRange},
        {R"({"pairingFailed":{"remainingAttempts":true}})", ErrorKind::wrongType},
        {R"({"cursor":{"x":1e999,"y":0}})", ErrorKind::malformed},
        {R"({"cursor":{"x":"1","y":0}})", ErrorKind::wrongType},
        {R"({"startScreenShare":{"preview":0}})", ErrorKind::wrongType},
        {R"({"startScreenShare":{"preview":"true"}})", ErrorKind::wrongType},
        {R"({"displays":{"_0":[{"id":4294967296,"name":"","isBuiltIn":true,"isMain":true,"width":1,"height":1}],"selectedID":0}})",
         ErrorKind::outOfRange},
        {R"({"macInfo":{"_0":{"name":"","modelName":"","modelIdentifier":"","chip":"","memoryBytes":1.5,"systemVersion":"","isCharging":false,"isOnACPower":true,"uptime":1}}})",
         ErrorKind::wrongType},
        {R"({"windows":{"_0":[{"id":1,"bundleID":"b","appName":"a","isFrontmost":true}]}})",
         ErrorKind::missing},
        {R"({"appIcon":{"bundleID":"a","png":"AQ-_"}})", ErrorKind::invalidValue},
        {R"({"run":{"command":{"quitAllApps":{}},"id":"e621e1f8c36c495a93fc0c247a3e6e5f"}})",
         ErrorKind::invalidValue},
        {"{\"clipboard\":{\"_0\":\"\xFF\"}}", ErrorKind::malformed}, // not UTF-8
        {R"({"clipboard":{"_0":"\ud800"}})", ErrorKind::malformed},  // lone surrogate
        {"", ErrorKind::malformed},
        {nested(64), ErrorKind::tooDeep},
        {nested(1'000'000), ErrorKind::tooDeep}, // would overflow a recursive walk
    });
    EXPECT_EQ(decodeMessage(asBytes("{}")).error().message,
              "Invalid number of keys found, expected one.");
}

TEST(WireText, RefusedCommands)
{
    expectRefused<OrvaneCommand>({
        {R"({"teleport":{}})", ErrorKind::caseKeys},
        {R"({"keyShortcut":{"_0":{"key":"c"}}})", ErrorKind::missing},
        {R"({"keyShortcut":{"_0":{"key":"C","modifiers":[]}}})", ErrorKind::invalidValue},
        {R"({"keyShortcut":{"_0":{"key":"digit1","modifiers":[]}}})", ErrorKind::invalidValue},
        {R"({"keyShortcut":{"_0":{"key":"`","modifiers":["Command"]}}})", ErrorKind::invalidValue},
        {R"({"pressKey":{"_0":{"key":"down","modifiers":[]}}})", ErrorKind::missing},
        {R"({"playMusic":{"query":"jazz","player":"Music"}})", ErrorKind::invalidValue},
        {R"({"system":{"_0":{"setKeepAwake":{"_0":1}}}})", ErrorKind::wrongType},
        {R"({"media":{"_0":{"setVolume":{"_0":40.5}}}})", ErrorKind::wrongType},
        {R"({"openFolder":{"_0":"Downloads"}})", ErrorKind::invalidValue},
        {R"({"window":{"_0":{"leftHalf":{}}}})", ErrorKind::wrongType},
        {R"({"forceQuit":{"pid":2147483648}})", ErrorKind::outOfRange},
        {R"({"forceQuit":{"pid":-2147483649}})", ErrorKind::outOfRange},
        {R"({"forceQuit":{"pid":12.0}})", ErrorKind::wrongType},
        {R"({"focusWindow":{"_0":-1}})", ErrorKind::outOfRange},
    });
}

TEST(WireText, EncodingRepairsTextAndRefusesNonFiniteNumbers)
{
    // Window titles and file names from the system need not be UTF-8.
    EXPECT_EQ(
        canonical(*encodeJson(MacWindow{1, "b", "Term\xC3", "caf\xE9 \xF0\x9F\x8E", false})),
        canonical(
            R"({"id":1,"bundleID":"b","appName":"Term\ufffd","title":"caf\ufffd \ufffd","isFrontmost":false})"));
    EXPECT_FALSE(encodeMessage(msg::Cursor{std::nan(""), 0}).ok());
    EXPECT_FALSE(encodeMessage(msg::Stats{{MacStats{0, 0, 0, {{1, "b", "n", INFINITY, 0}}}}}).ok());
    EXPECT_TRUE(encodeMessage(msg::Cursor{-0.0, 1e300}).ok());
}

} // namespace
} // namespace orvane
