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

// Member order aside; an integer and a float with the same value still differ.
std::string canonical(std::string_view json)
{
    return nlohmann::json::parse(json).dump();
}

template <class T> void expectBothWays(std::initializer_list<std::pair<T, std::string_view>> rows)
{
    for (const auto& [value, json] : rows) {
        const auto decoded = decodeJson<T>(json);
        ASSERT_TRUE(decoded.ok()) << json << ": " << decoded.error().message << " at "
                                  << decoded.error().where;
        EXPECT_TRUE(*decoded == value) << json;
        const auto encoded = encodeJson(value);
        ASSERT_TRUE(encoded.ok()) << json;
        EXPECT_EQ(canonical(*encoded), canonical(json));
        EXPECT_EQ(encoded->size(), canonical(*encoded).size()) << "not compact: " << *encoded;
    }
}

TEST(WireText, EveryMessageCase)
{
    const MacInfo fullInfo{"Desk", "MacBook Pro", "Mac15,3", "Apple M3", 17179869184, "14.5", 0,
                           true,   false,         1000,      INT64_MAX,  3600.5,      png};
    const MacInfo bareInfo{"Mac", "", "", "", 0, "", {}, false, true, {}, {}, 0.5, {}};
    const NowPlaying track{MediaPlayer::spotify,     "Song", "Band", "LP", true, 12.5, 200.25, 70,
                           "https://i.example/a.jpg"};
    const MacStats stats{12.5, INT64_MIN, 34359738368, {{INT32_MIN, "b", "Safari", 0.25, 1048576}}};
    expectBothWays<OrvaneMessage>(
        {{msg::Hello{"iPhone", id, png, true},
          R"({"hello":{"deviceName":"iPhone","deviceID":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","publicKey":"iVBORw0KGgo=","hasToken":true}})"},
         {msg::KeyExchange{png, false},
          R"({"keyExchange":{"publicKey":"iVBORw0KGgo=","pairingRequired":false}})"},
         {msg::PairingRequired{}, R"({"pairingRequired":{}})"},
         {msg::PairingFailed{{2}}, R"({"pairingFailed":{"remainingAttempts":2}})"},
         {msg::PairingRejected{{"No"}}, R"({"pairingRejected":{"reason":"No"}})"},
         {msg::PairingMethod{{true}}, R"({"pairingMethod":{"qr":true}})"},
         {msg::Authenticate{}, R"({"authenticate":{}})"},
         {msg::Paired{{"a/b+c="}}, R"({"paired":{"token":"a\/b+c="}})"},
         {msg::Welcome{"D", true}, R"({"welcome":{"macName":"D","accessibilityGranted":true}})"},
         {msg::Run{id, command::QuitAllApps{}},
          R"({"run":{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","command":{"quitAllApps":{}}}})"},
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
         {msg::AppCatalog{{{{{"a", "A"}}, {"a"}, {}}}},
          R"({"appCatalog":{"_0":{"apps":[{"bundleID":"a","name":"A"}],"dock":["a"],"running":[]}}})"},
         {msg::RequestIcons{{{"a", "b"}}}, R"({"requestIcons":{"_0":["a","b"]}})"},
         {msg::AppIcon{"a", png}, R"({"appIcon":{"bundleID":"a","png":"iVBORw0KGgo="}})"},
         {msg::RunningApps{{{"a"}}}, R"({"runningApps":{"_0":["a"]}})"},
         {msg::StartScreenShare{{true}}, R"({"startScreenShare":{"preview":true}})"},
         {msg::StopScreenShare{}, R"({"stopScreenShare":{}})"},
         {msg::ScreenShareError{{"No display"}}, R"({"screenShareError":{"_0":"No display"}})"},
         {msg::Displays{{{UINT32_MAX, "Studio", false, true, 5120, 2880}}, UINT32_MAX},
          R"({"displays":{"_0":[{"id":4294967295,"name":"Studio","isBuiltIn":false,"isMain":true,"width":5120,"height":2880}],"selectedID":4294967295}})"},
         {msg::Cursor{0.5, -0.25}, R"({"cursor":{"x":0.5,"y":-0.25}})"},
         {msg::SelectDisplay{{UINT32_MAX}}, R"({"selectDisplay":{"_0":4294967295}})"},
         {msg::Pointer{{pointer::PressAtCursor{}}}, R"({"pointer":{"_0":{"pressAtCursor":{}}}})"},
         {msg::FrontmostApp{{MacApp{"a", "T"}}},
          R"({"frontmostApp":{"_0":{"bundleID":"a","name":"T"}}})"},
         {msg::State{{SystemState{40, false, true, true}}},
          R"({"systemState":{"_0":{"volume":40,"isMuted":false,"isDarkMode":true,"keepsAwake":true}}})"},
         {msg::RequestClipboard{}, R"({"requestClipboard":{}})"},
         {msg::Clipboard{{"\xC3\xA9\xF0\x9F\x8E\xB5\"\n"}},
          R"({"clipboard":{"_0":"\u00e9\ud83c\udfb5\"\n"}})"},
         {msg::RequestWindows{}, R"({"requestWindows":{}})"},
         {msg::Windows{{{{UINT32_MAX, "a", "T", "", true}}}},
          R"({"windows":{"_0":[{"id":4294967295,"bundleID":"a","appName":"T","title":"","isFrontmost":true}]}})"},
         {msg::WindowThumbnail{7, jpeg}, R"({"windowThumbnail":{"id":7,"jpeg":"\/9j\/4A=="}})"},
         {msg::RequestStats{}, R"({"requestStats":{}})"},
         {msg::Stats{{stats}},
          R"({"stats":{"_0":{"cpu":12.5,"memoryUsed":-9223372036854775808,"memoryTotal":34359738368,"apps":[{"pid":-2147483648,"bundleID":"b","name":"Safari","cpu":0.25,"memory":1048576}]}}})"}});
}

TEST(WireText, EveryCommandAndPointerCase)
{
    // Window actions, folders, players and single keys are in EveryEnumText.
    expectBothWays<OrvaneCommand>(
        {{command::LaunchApp{{"a.b"}}, R"({"launchApp":{"bundleID":"a.b"}})"},
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
         {command::QuitApp{{"a.b"}}, R"({"quitApp":{"bundleID":"a.b"}})"},
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
         {command::OpenURL{{"https://e.com/a?b"}}, R"({"openURL":{"_0":"https://e.com/a?b"}})"},
         {command::QuitAppNamed{{"Safari"}}, R"({"quitAppNamed":{"_0":"Safari"}})"},
         {command::QuitAllApps{}, R"({"quitAllApps":{}})"},
         {command::PlayMusic{{"jazz"}, {}}, R"({"playMusic":{"query":"jazz"}})"},
         {command::PressKey{{Key::down, {}}, 3},
          R"({"pressKey":{"_0":{"key":"down","modifiers":[]},"times":3}})"},
         {command::FocusWindow{{UINT32_MAX}}, R"({"focusWindow":{"_0":4294967295}})"},
         {command::ForceQuit{{INT32_MAX}}, R"({"forceQuit":{"pid":2147483647}})"}});
    expectBothWays<PointerEvent>(
        {{pointer::Click{0.5, 0.25, true, 1},
          R"({"click":{"x":0.5,"y":0.25,"right":true,"count":1}})"},
         {pointer::DragBegan{{0.125, 0.5}}, R"({"dragBegan":{"x":0.125,"y":0.5}})"},
         {pointer::DragChanged{{0.25, 0.5}}, R"({"dragChanged":{"x":0.25,"y":0.5}})"},
         {pointer::DragEnded{{0.375, 0.5}}, R"({"dragEnded":{"x":0.375,"y":0.5}})"},
         {pointer::MoveBy{{-1.5, 2.5}}, R"({"moveBy":{"dx":-1.5,"dy":2.5}})"},
         {pointer::ClickAtCursor{true, 3}, R"({"clickAtCursor":{"right":true,"count":3}})"},
         {pointer::PressAtCursor{}, R"({"pressAtCursor":{}})"},
         {pointer::DragBy{{3.5, -4.5}}, R"({"dragBy":{"dx":3.5,"dy":-4.5}})"},
         {pointer::ReleaseAtCursor{}, R"({"releaseAtCursor":{}})"},
         {pointer::Scroll{{0.5, -12.5}}, R"({"scroll":{"dx":0.5,"dy":-12.5}})"}});
}

// Each text of an enumeration, all of them, in declaration order, inside the
// command that carries it ("%" in `json`).
template <class E, class Make> void everyText(const char* texts, const char* json, Make make)
{
    std::istringstream in(texts);
    std::size_t i = 0;
    for (std::string text; in >> text; ++i) {
        std::string expected = json;
        expected.replace(expected.find('%'), 1, text);
        expectBothWays<OrvaneCommand>({{make(E(i)), expected}});
    }
    EXPECT_EQ(i, EnumTexts<E>::texts.size()) << json;
}

TEST(WireText, EveryEnumText)
{
    everyText<Key>("a b c d e f g h i j k l m n o p q r s t u v w x y z 0 1 2 3 4 5 6 7 8 9 "
                   "space return tab delete escape left right up down , . / - = [ ] `",
                   R"({"keyShortcut":{"_0":{"key":"%","modifiers":[]}}})", [](Key key) {
                       return command::PressShortcut{{{key, {}}}};
                   });
    everyText<Mod>("control option shift command",
                   R"({"keyShortcut":{"_0":{"key":"a","modifiers":["%"]}}})", [](Mod mod) {
                       return command::PressShortcut{{{Key::a, {mod}}}};
                   });
    everyText<WindowAction>(
        "fullScreen minimize hideApp close leftHalf rightHalf maximize center nextWindow",
        R"({"window":{"_0":"%"}})", [](WindowAction a) { return command::Window{{a}}; });
    everyText<MacFolder>("downloads desktop documents applications home orvane",
                         R"({"openFolder":{"_0":"%"}})",
                         [](MacFolder f) { return command::OpenFolder{{f}}; });
    everyText<MediaPlayer>("spotify music", R"({"playMusic":{"query":"","player":"%"}})",
                           [](MediaPlayer p) {
                               return command::PlayMusic{{""}, p};
                           });
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
        {R"({"requestStats":{"unexpected":1}})", msg::RequestStats{}},
        {R"({"frontmostApp":{},"foo":1})", msg::FrontmostApp{}},
        {R"({"cursor":{"x":3,"y":-1}})", msg::Cursor{3, -1}}, // integers are fine doubles
        {R"({"result":{"id":"e621e1f8-C36C-495a-93fc-0c247a3e6e5f","success":true,"message":""}})",
         msg::Result{id, true, ""}},
        {nested(63), msg::RequestStats{}}, // 64 levels with the outer object
    };
    for (const auto& [json, value] : rows) {
        const auto decoded = decodeMessage(asBytes(json));
        ASSERT_TRUE(decoded.ok()) << json << ": " << decoded.error().message;
        EXPECT_TRUE(*decoded == value) << json;
    }
}

std::string repeated(std::string_view piece, std::size_t times)
{
    std::string text;
    text.reserve(piece.size() * times);
    while (times-- > 0)
        text += piece;
    return text;
}

// Each row fails to decode, for the reason it names and, where given, at the
// place it names.
TEST(WireText, Refused)
{
    const std::string run = R"({"run":{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","command":)";
    const struct {
        std::string json;
        ErrorKind kind;
        std::string where = {};
    } rows[] = {
        {R"({"requestStats":true})", ErrorKind::wrongType, "requestStats"},
        {R"([{"requestStats":{}}])", ErrorKind::wrongType},
        {R"({})", ErrorKind::caseKeys},
        {R"({"pointer":{"_0":{"pressAtCursor":{}}},"cursor":{"x":1,"y":2}})", ErrorKind::caseKeys},
        {run + R"({"media":{"_0":{"play":{},"pause":{}}}}}})", ErrorKind::caseKeys,
         "run.command.media._0"},
        {run + R"({"quitAllApps":{}}}})" + "x", ErrorKind::malformed},
        {R"({"nowPlaying":{"_0":5}})", ErrorKind::wrongType},
        {R"({"selectDisplay":{}})", ErrorKind::missing, "selectDisplay._0"},
        {R"({"selectDisplay":{"_0":-1}})", ErrorKind::outOfRange},
        {R"({"selectDisplay":{"_0":4294967296}})", ErrorKind::outOfRange, "selectDisplay._0"},
        {R"({"selectDisplay":{"_0":1.0}})", ErrorKind::wrongType},
        {run + R"({"forceQuit":{"pid":-2147483649}}}})", ErrorKind::outOfRange},
        {R"({"pairingFailed":{"remainingAttempts":9223372036854775808}})", ErrorKind::outOfRange},
        {R"({"cursor":{"x":1e999,"y":0}})", ErrorKind::malformed},
        {R"({"cursor":{"x":"1","y":0}})", ErrorKind::wrongType},
        {R"({"startScreenShare":{"preview":0}})", ErrorKind::wrongType},
        {R"({"windows":{"_0":[{"id":1,"bundleID":"b","appName":"a","isFrontmost":true}]}})",
         ErrorKind::missing, "windows._0.[0].title"},
        {R"({"appIcon":{"bundleID":"a","png":"AQ-_"}})", ErrorKind::invalidValue},
        {R"({"run":{"command":{"quitAllApps":{}},"id":"e621e1f8c36c495a93fc0c247a3e6e5f"}})",
         ErrorKind::invalidValue},
        {run + R"({"keyShortcut":{"_0":{"key":"C","modifiers":[]}}}}})", ErrorKind::invalidValue},
        {run + R"({"window":{"_0":{"leftHalf":{}}}}}})", ErrorKind::wrongType},
        {"{\"clipboard\":{\"_0\":\"\xFF\"}}", ErrorKind::malformed}, // not UTF-8
        {R"({"clipboard":{"_0":"\ud800"}})", ErrorKind::malformed},  // lone surrogate
        {nested(64), ErrorKind::tooDeep},
        {nested(1'000'000), ErrorKind::tooDeep}, // would overflow a recursive walk
        // Small documents that grow hundreds of times over as a DOM, and
        // one message past the largest real one.
        {R"({"requestStats":{},"x":[)" + repeated("{},", 65'533) + "{}]}", ErrorKind::tooLarge},
        {"[" + repeated("0,", 100'000) + "0]", ErrorKind::tooLarge},
        {run + R"({"typeText":{"_0":")" + std::string(maximumJsonBytes, 'a') + R"("}}}})",
         ErrorKind::tooLarge},
    };
    for (const auto& row : rows) {
        const auto decoded = decodeMessage(asBytes(row.json));
        ASSERT_FALSE(decoded.ok()) << row.json;
        EXPECT_EQ(decoded.error().kind, row.kind) << row.json;
        EXPECT_TRUE(row.where.empty() || decoded.error().where == row.where)
            << row.json << " at " << decoded.error().where;
    }
    EXPECT_EQ(decodeMessage(asBytes("{}")).error().message,
              "Invalid number of keys found, expected one.");
}

// Names and searches keep their first 256 characters when decoded, whatever
// the phone sends; a character keeps its marks, a pair its two halves, and
// a character of endless marks ends on a code point. Typed text is kept
// whole.
TEST(WireText, NamesAndSearchesAreCutWhenDecoded)
{
    const auto times = [](std::string_view piece, std::size_t count) {
        std::string text;
        for (std::size_t i = 0; i < count; ++i)
            text += piece;
        return text;
    };
    const std::string marks = "a" + times("\u0301", 100'000);
    const std::pair<std::string, OrvaneCommand> rows[] = {
        {R"({"openApp":{"name":")" + times("a", 300) + R"("}})",
         command::OpenApp{{times("a", 256)}}},
        {R"({"quitAppNamed":{"_0":")" + times("\uFDFA", 262'144) + R"("}})",
         command::QuitAppNamed{{times("\uFDFA", 256)}}},
        {R"({"runShortcut":{"name":")" + times("e\u0301", 300) + R"("}})",
         command::RunShortcut{{times("e\u0301", 256)}}},
        {R"({"playMusic":{"query":")" + times("\\ud83d\\ude00", 300) + R"("}})",
         command::PlayMusic{{times("\U0001F600", 256)}, std::nullopt}},
        {R"({"openApp":{"name":")" + marks + R"("}})",
         command::OpenApp{{marks.substr(0, ShortText::maximumBytes - 1)}}},
        {R"({"typeText":{"_0":")" + times("\uFDFA", 262'144) + R"("}})",
         command::TypeText{{times("\uFDFA", 262'144)}}}};
    for (const auto& [json, expected] : rows) {
        const auto decoded = decodeJson<OrvaneCommand>(json);
        ASSERT_TRUE(decoded.ok()) << json.substr(0, 40);
        EXPECT_TRUE(*decoded == expected) << json.substr(0, 40);
    }
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
