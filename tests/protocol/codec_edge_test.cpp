// The JSON rules the phone relies on: exact texts, strict types, optional
// members, unknown keys, and input that must be refused without harm.
#include "protocol/codec.h"

#include <gtest/gtest.h>

#include <cmath>

namespace orvane {
namespace {

const char* const uuidText = "E621E1F8-C36C-495A-93FC-0C247A3E6E5F";

Result<OrvaneMessage> decode(std::string_view json)
{
    return decodeJson<OrvaneMessage>(json);
}

Result<OrvaneCommand> decodeCommand(std::string_view json)
{
    return decodeJson<OrvaneCommand>(json);
}

TEST(CodecText, EncodesTheDocumentedExamples)
{
    Uuid id = *Uuid::parse(uuidText);
    EXPECT_EQ(*encodeMessage(msg::Result{id, false, "Not a valid link"}),
              R"({"result":{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","message":"Not a valid link","success":false}})");
    EXPECT_EQ(*encodeMessage(msg::RequestWindows{}), R"({"requestWindows":{}})");
    EXPECT_EQ(*encodeMessage(msg::Clipboard{}), R"({"clipboard":{}})");
    EXPECT_EQ(*encodeMessage(msg::Clipboard{{"hello"}}), R"({"clipboard":{"_0":"hello"}})");
    EXPECT_EQ(*encodeMessage(msg::Track{}), R"({"nowPlaying":{}})");
    EXPECT_EQ(*encodeJson(AppCatalogPayload{}), R"({"apps":[],"dock":[],"running":[]})");
    EXPECT_EQ(*encodeJson(MacWindow{3, "b", "A", "", false}),
              R"({"appName":"A","bundleID":"b","id":3,"isFrontmost":false,"title":""})");
}

TEST(CodecText, DecodesTheDocumentedExamples)
{
    auto hello = decode(std::string(R"({"hello":{"deviceName":"iPhone","deviceID":")") +
                        "e621e1f8-c36c-495a-93fc-0c247a3e6e5f" +
                        R"(","publicKey":"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=","hasToken":false}})");
    ASSERT_TRUE(hello.ok()) << hello.error().message;
    const auto& h = std::get<msg::Hello>(*hello);
    EXPECT_EQ(h.deviceID.toString(), uuidText); // lower case in, upper case out
    ASSERT_EQ(h.publicKey.size(), 32u);
    EXPECT_EQ(h.publicKey[31], 31);

    auto run = decode(std::string(R"({"run":{"id":")") + uuidText +
                      R"(","command":{"keyShortcut":{"_0":{"key":"c","modifiers":["command","shift"]}}}}})");
    ASSERT_TRUE(run.ok());
    const auto& command = std::get<msg::Run>(*run).command;
    KeyShortcut expected{KeyShortcut::Key::c,
                         {KeyShortcut::Modifier::command, KeyShortcut::Modifier::shift}};
    EXPECT_EQ(std::get<command::PressShortcut>(command).value, expected);
}

TEST(CodecCases, CaseKeysAndCaseObjects)
{
    EXPECT_TRUE(decode(R"({"requestStats":{}})").ok());
    EXPECT_TRUE(decode(R"({"requestStats":{"unexpected":1}})").ok());
    EXPECT_FALSE(decode(R"({"requestStats":null})").ok());
    EXPECT_FALSE(decode(R"({"requestStats":true})").ok());
    EXPECT_FALSE(decode(R"({"requestStats":[]})").ok());
    EXPECT_FALSE(decode(R"([{"requestStats":{}}])").ok());

    for (const char* json : {R"({})", R"({"foo":{}})",
                             R"({"pointer":{"_0":{"pressAtCursor":{}}},"cursor":{"x":1,"y":2}})"}) {
        auto result = decode(json);
        ASSERT_FALSE(result.ok()) << json;
        EXPECT_EQ(result.error().message, "Invalid number of keys found, expected one.");
        EXPECT_EQ(result.error().kind, ErrorKind::caseKeys);
    }
    auto pointer = decode(R"({"pointer":{"_0":{"click":{"x":0.5,"y":0.25,"right":false,"count":2}}},"foo":1})");
    ASSERT_TRUE(pointer.ok());
    auto click = std::get<pointer::Click>(std::get<msg::Pointer>(*pointer).value);
    EXPECT_EQ(click, (pointer::Click{0.5, 0.25, false, 2}));

    // Nested unions follow the same rule and say where they failed.
    auto nested = decode(std::string(R"({"run":{"id":")") + uuidText +
                         R"(","command":{"media":{"_0":{"play":{},"pause":{}}}}}})");
    ASSERT_FALSE(nested.ok());
    EXPECT_EQ(nested.error().message, "Invalid number of keys found, expected one.");
    EXPECT_EQ(nested.error().where, "run.command.media._0");
}

TEST(CodecCases, OptionalPayloads)
{
    for (const char* json : {R"({"nowPlaying":{}})", R"({"nowPlaying":{"_0":null}})"}) {
        auto track = decode(json);
        ASSERT_TRUE(track.ok()) << json;
        EXPECT_FALSE(std::get<msg::Track>(*track).value.has_value());
    }
    EXPECT_FALSE(decode(R"({"nowPlaying":{"_0":5}})").ok()); // present must be well formed

    auto now = decodeJson<NowPlaying>(
        R"({"player":"music","title":"","artist":"","album":"","isPlaying":false,"position":0,"duration":0,"volume":50})");
    ASSERT_TRUE(now.ok());
    EXPECT_EQ(now->player, MediaPlayer::music);
    EXPECT_FALSE(now->artworkURL.has_value());
    EXPECT_EQ(now->volume, 50);

    MacInfo info;
    info.name = "Desk";
    auto text = *encodeJson(info);
    for (const char* absent : {"batteryPercent", "imagePNG", "storageFreeBytes",
                               "storageTotalBytes"})
        EXPECT_EQ(text.find(absent), std::string::npos) << absent;
    info.batteryPercent = 0; // present but zero is still present
    EXPECT_NE(encodeJson(info)->find("\"batteryPercent\":0"), std::string::npos);
}

TEST(CodecCommands, PayloadRules)
{
    struct Case {
        const char* json;
        bool ok;
    };
    const Case cases[] = {
        {R"({"keyShortcut":{"_0":{"key":"c"}}})", false},                  // modifiers required
        {R"({"keyShortcut":{"_0":{"key":"C","modifiers":[]}}})", false},   // not a key text
        {R"({"keyShortcut":{"_0":{"key":"digit1","modifiers":[]}}})", false},
        {R"({"keyShortcut":{"_0":{"key":"1","modifiers":[]}}})", true},
        {R"({"keyShortcut":{"_0":{"key":"`","modifiers":["Command"]}}})", false},
        {R"({"pressKey":{"_0":{"key":"down","modifiers":[]},"times":3}})", true},
        {R"({"pressKey":{"_0":{"key":"down","modifiers":[]}}})", false},
        {R"({"playMusic":{"query":"jazz"}})", true},
        {R"({"playMusic":{"query":"jazz","player":"music"}})", true},
        {R"({"playMusic":{"query":"jazz","player":"Music"}})", false},
        {R"({"media":{"_0":{"setVolume":{"_0":40}}}})", true},
        {R"({"media":{"_0":{"skip":{"_0":-15}}}})", true},
        {R"({"system":{"_0":{"setKeepAwake":{"_0":true}}}})", true},
        {R"({"system":{"_0":{"setKeepAwake":{"_0":1}}}})", false},
        {R"({"system":{"_0":{"sleep":{}}}})", true},
        {R"({"window":{"_0":"leftHalf"}})", true},
        {R"({"openFolder":{"_0":"downloads"}})", true},
        {R"({"openFolder":{"_0":"Downloads"}})", false},
        {R"({"quitAllApps":{}})", true},
        {R"({"forceQuit":{"pid":-2147483648}})", true},
        {R"({"forceQuit":{"pid":4294967295}})", false},
        {R"({"forceQuit":{"pid":12.0}})", false},
        {R"({"focusWindow":{"_0":4294967295}})", true},
        {R"({"focusWindow":{"_0":-1}})", false},
        {R"({"openURL":{"_0":"https:\/\/example.com"}})", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decodeCommand(c.json).ok(), c.ok) << c.json;

    auto music = decodeCommand(R"({"playMusic":{"query":"jazz","player":"music"}})");
    EXPECT_EQ(std::get<command::PlayMusic>(*music).player, MediaPlayer::music);
    auto url = decodeCommand(R"({"openURL":{"_0":"https:\/\/example.com"}})");
    EXPECT_EQ(std::get<command::OpenURL>(*url).value, "https://example.com");
}

TEST(CodecTypes, NumbersAreStrictPerWidth)
{
    struct Case {
        const char* json;
        bool ok;
    };
    const Case cases[] = {
        {R"({"selectDisplay":{"_0":0}})", true},
        {R"({"selectDisplay":{"_0":4294967295}})", true},
        {R"({"selectDisplay":{"_0":-1}})", false},
        {R"({"selectDisplay":{"_0":4294967296}})", false},
        {R"({"selectDisplay":{"_0":1.0}})", false},
        {R"({"selectDisplay":{"_0":1e2}})", false},
        {R"({"selectDisplay":{"_0":"1"}})", false},
        {R"({"pairingFailed":{"remainingAttempts":9223372036854775807}})", true},
        {R"({"pairingFailed":{"remainingAttempts":-9223372036854775808}})", true},
        {R"({"pairingFailed":{"remainingAttempts":9223372036854775808}})", false},
        {R"({"pairingFailed":{"remainingAttempts":true}})", false},
        {R"({"cursor":{"x":3,"y":-0.5}})", true}, // an integer is a fine double
        {R"({"cursor":{"x":1e999,"y":0}})", false},
        {R"({"cursor":{"x":"1","y":0}})", false},
        {R"({"startScreenShare":{"preview":0}})", false},
        {R"({"startScreenShare":{"preview":"true"}})", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decode(c.json).ok(), c.ok) << c.json;
    // The kind tells a caller what went wrong, and where says which member.
    auto tooBig = decode(R"({"selectDisplay":{"_0":4294967296}})");
    EXPECT_EQ(tooBig.error().kind, ErrorKind::outOfRange);
    EXPECT_EQ(tooBig.error().where, "selectDisplay._0");
    EXPECT_EQ(decode(R"({"selectDisplay":{"_0":"1"}})").error().kind, ErrorKind::wrongType);
    EXPECT_EQ(decode(R"({"selectDisplay":{}})").error().kind, ErrorKind::missing);
    EXPECT_EQ(decode(R"({"selectDisplay":)").error().kind, ErrorKind::malformed);

    EXPECT_FALSE(decodeJson<DisplayInfo>(
                     R"({"id":4294967296,"name":"","isBuiltIn":true,"isMain":true,"width":1,"height":1})")
                     .ok());
    EXPECT_FALSE(decodeJson<MacInfo>(
                     R"({"name":"","modelName":"","modelIdentifier":"","chip":"","memoryBytes":1.5,"systemVersion":"","isCharging":false,"isOnACPower":true,"uptime":1})")
                     .ok());
}

TEST(CodecTypes, BooleansEncodeAsJsonBooleans)
{
    Uuid id{};
    EXPECT_NE(encodeMessage(msg::Result{id, true, ""})->find("\"success\":true"),
              std::string::npos);
    EXPECT_NE(encodeMessage(msg::Result{id, false, ""})->find("\"success\":false"),
              std::string::npos);
}

TEST(CodecTypes, UuidAndBase64Text)
{
    std::string prefix = R"({"appIcon":{"bundleID":"a","png":")";
    EXPECT_TRUE(decode(prefix + R"(AQID"}})").ok());
    for (const char* bad : {"AQI", "AQ==AQ==", "AQ=\\n=", "AQ-_", " AQID", "AR=="})
        EXPECT_FALSE(decode(prefix + bad + R"("}})").ok()) << bad;

    std::string run = R"({"run":{"command":{"quitAllApps":{}},"id":")";
    EXPECT_TRUE(decode(run + "e621e1f8-C36C-495a-93fc-0c247a3e6e5f\"}}").ok());
    for (const char* bad : {"e621e1f8c36c495a93fc0c247a3e6e5f", "{e621e1f8-c36c-495a-93fc-0c247a3e6e5f}",
                            "e621e1f8-c36c-495a-93fc-0c247a3e6e5g", ""})
        EXPECT_FALSE(decode(run + bad + "\"}}").ok()) << bad;
}

TEST(CodecEncode, NonFiniteNumbersAreNotSent)
{
    EXPECT_FALSE(encodeMessage(msg::Cursor{std::nan(""), 0}).ok());
    MacStats stats;
    stats.apps.push_back({1, "b", "n", INFINITY, 0});
    EXPECT_FALSE(encodeMessage(msg::Stats{stats}).ok());
    EXPECT_TRUE(encodeMessage(msg::Cursor{-0.0, 1e300}).ok());
}

TEST(CodecEncode, InvalidUtf8NeverReachesTheWire)
{
    MacWindow window{1, "b", "Term\xC3", "caf\xE9 \xF0\x9F\x8E", false};
    auto json = encodeJson(window);
    ASSERT_TRUE(json.ok());
    auto back = decodeJson<MacWindow>(*json);
    ASSERT_TRUE(back.ok()) << *json;
    EXPECT_EQ(back->appName, "Term\xEF\xBF\xBD");
    EXPECT_EQ(back->title, "caf\xEF\xBF\xBD \xEF\xBF\xBD");
}

TEST(CodecHostileInput, RefusedWithoutHarm)
{
    // Invalid UTF-8 and lone surrogates in the input are malformed JSON.
    EXPECT_FALSE(decode("{\"clipboard\":{\"_0\":\"\xFF\"}}").ok());
    EXPECT_FALSE(decode(R"({"clipboard":{"_0":"\ud800"}})").ok());
    EXPECT_FALSE(decode("").ok());
    EXPECT_FALSE(decode(R"({"requestStats":{}} trailing)").ok());

    auto nested = [](int depth) {
        return R"({"requestStats":{},"x":)" + std::string(depth, '[') + std::string(depth, ']') + "}";
    };
    EXPECT_TRUE(decode(nested(63)).ok());  // 64 levels with the outer object
    auto deep = decode(nested(64));
    ASSERT_FALSE(deep.ok());
    EXPECT_NE(deep.error().message.find("deeper"), std::string::npos);
    EXPECT_EQ(deep.error().kind, ErrorKind::tooDeep);
    EXPECT_FALSE(decode(nested(1'000'000)).ok()); // would overflow a recursive walk
}

} // namespace
} // namespace orvane
