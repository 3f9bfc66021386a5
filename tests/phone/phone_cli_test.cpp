#include "phone/friendly_command.h"
#include "phone/phone_state.h"
#include "phone/pointer_command.h"

#include "protocol/codec.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace orvane::phone {
namespace {

namespace fs = std::filesystem;

class StateFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_root = fs::temp_directory_path() /
                 ("orvane-phone-test-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_root);
        m_dir = (m_root / "state" / "orvane-phone").string();
    }
    void TearDown() override { fs::remove_all(m_root); }

    static unsigned mode(const std::string& path)
    {
        struct stat info {};
        EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
        return info.st_mode & 0777;
    }

    fs::path m_root;
    std::string m_dir;
};

TEST_F(StateFile, FirstLoadMakesAPrivateIdentityThatLaterLoadsKeep)
{
    auto first = loadState(m_dir);
    ASSERT_TRUE(first.ok()) << first.error().message;
    EXPECT_EQ(first->deviceName, defaultDeviceName());
    EXPECT_TRUE(first->tokens.empty());
    EXPECT_EQ(mode(m_dir), 0700u);
    EXPECT_EQ(mode(stateFilePath(m_dir)), 0600u);

    auto second = loadState(m_dir);
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(second->deviceID, first->deviceID);
}

TEST_F(StateFile, TokensAndTheLastComputerSurviveARoundTrip)
{
    PhoneState state{*Uuid::parse("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"), "Pocket", {}, {}};
    state.tokens["Anna's Laptop"] = "token/one+==";
    state.tokens["Büro"] = "token-two";
    state.lastComputer = "Büro";
    ASSERT_TRUE(saveState(m_dir, state).ok());
    state.tokens["Büro"] = "token-three"; // replacing keeps one file, no leftovers
    ASSERT_TRUE(saveState(m_dir, state).ok());

    auto loaded = loadState(m_dir);
    ASSERT_TRUE(loaded.ok()) << loaded.error().message;
    EXPECT_EQ(loaded->deviceID, state.deviceID);
    EXPECT_EQ(loaded->deviceName, "Pocket");
    EXPECT_EQ(loaded->tokens, state.tokens);
    EXPECT_EQ(loaded->lastComputer, "Büro");
    ASSERT_NE(loaded->tokenFor("Anna's Laptop"), nullptr);
    EXPECT_EQ(loaded->tokenFor("Nobody"), nullptr);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);
    EXPECT_EQ(mode(stateFilePath(m_dir)), 0600u);
}

TEST_F(StateFile, DamagedFileIsReportedAndLeftAlone)
{
    fs::create_directories(m_dir);
    for (const std::string text : {"{not json", R"({"deviceID":42})", "[]"}) {
        std::ofstream(stateFilePath(m_dir)) << text;
        auto loaded = loadState(m_dir);
        EXPECT_FALSE(loaded.ok()) << text;
        std::ifstream in(stateFilePath(m_dir));
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
    }
}

TEST(StateDirectory, FollowsXdgStateHomeThenHome)
{
    EXPECT_EQ(stateDirectory("/x/state", "/home/u"), "/x/state/orvane-phone");
    EXPECT_EQ(stateDirectory("", "/home/u"), "/home/u/.local/state/orvane-phone");
    EXPECT_EQ(stateDirectory("relative", "/home/u"), "/home/u/.local/state/orvane-phone");
    EXPECT_EQ(stateDirectory(nullptr, "/home/u"), "/home/u/.local/state/orvane-phone");
}

std::string described(const Error& error)
{
    return (isUsageError(error) ? "usage error: " : "error: ") + error.message;
}

// Parses a command line the way orvane-phone does and returns the wire JSON:
// the command, or the pointer events one after the other.
std::string commandJson(std::vector<std::string> argv)
{
    auto invocation = parseInvocation(argv);
    if (!invocation) {
        return "usage error: " + invocation.error().message;
    }
    if (invocation->command == "pointer") {
        auto request = parsePointerCommand(*invocation);
        if (!request) {
            return described(request.error());
        }
        std::string json = request->display ? "display " + std::to_string(*request->display) : "";
        for (const PointerEvent& event : request->events) {
            json += (json.empty() ? "" : " ") + encodeJson(event).value();
        }
        return json;
    }
    auto command = parseFriendlyCommand(*invocation);
    return command ? encodeJson(*command).value() : described(command.error());
}

TEST(KeyCombo, ModifiersAndKeyNames)
{
    auto copy = parseKeyCombo("cmd+shift+c");
    ASSERT_TRUE(copy.ok());
    EXPECT_EQ(copy->key, KeyShortcut::Key::c);
    EXPECT_EQ(copy->modifiers,
              (std::vector{KeyShortcut::Modifier::command, KeyShortcut::Modifier::shift}));

    const std::pair<const char*, KeyShortcut::Key> keys[] = {
        {"CTRL+ALT+Delete", KeyShortcut::Key::delete_},
        {"enter", KeyShortcut::Key::return_},
        {"cmd+-", KeyShortcut::Key::minus},
        {"cmd+=", KeyShortcut::Key::equal},
        {"super+1", KeyShortcut::Key::digit1},
        {"opt+`", KeyShortcut::Key::grave},
        {"cmd+C", KeyShortcut::Key::c},
    };
    for (const auto& [combo, key] : keys) {
        auto parsed = parseKeyCombo(combo);
        ASSERT_TRUE(parsed.ok()) << combo;
        EXPECT_EQ(parsed->key, key) << combo;
    }
    EXPECT_EQ(parseKeyCombo("cmd+cmd+q")->modifiers.size(), 1u);
    for (const char* bad : {"", "cmd+", "+c", "cmd++", "hyper+c", "cmd+f13", "digit1"}) {
        EXPECT_FALSE(parseKeyCombo(bad).ok()) << bad;
    }
}

TEST(FriendlyCommand, BuildsTheWireCommands)
{
    EXPECT_EQ(commandJson({"key", "cmd+shift+c"}),
              R"({"keyShortcut":{"_0":{"key":"c","modifiers":["command","shift"]}}})");
    EXPECT_EQ(commandJson({"key", "down", "3"}),
              R"({"pressKey":{"_0":{"key":"down","modifiers":[]},"times":3}})");
    EXPECT_EQ(commandJson({"type", "hello", "world"}), R"({"typeText":{"_0":"hello world"}})");
    EXPECT_EQ(commandJson({"type", "--", "--port", "5"}), R"({"typeText":{"_0":"--port 5"}})");
    EXPECT_EQ(commandJson({"media", "skip", "-10"}), R"({"media":{"_0":{"skip":{"_0":-10.0}}}})");
    EXPECT_EQ(commandJson({"media", "volume", "40"}),
              R"({"media":{"_0":{"setVolume":{"_0":40}}}})");
    EXPECT_EQ(commandJson({"volume", "mute"}), R"({"system":{"_0":{"toggleMute":{}}}})");
    EXPECT_EQ(commandJson({"keep-awake", "on"}),
              R"({"system":{"_0":{"setKeepAwake":{"_0":true}}}})");
    EXPECT_EQ(commandJson({"lock"}), R"({"system":{"_0":{"lock":{}}}})");
    EXPECT_EQ(commandJson({"window", "left-half"}), R"({"window":{"_0":"leftHalf"}})");
    EXPECT_EQ(commandJson({"folder", "downloads"}), R"({"openFolder":{"_0":"downloads"}})");
    EXPECT_EQ(commandJson({"play-music", "--player", "spotify", "kind", "of", "blue"}),
              R"({"playMusic":{"player":"spotify","query":"kind of blue"}})");
    EXPECT_EQ(commandJson({"launch", "org.gnome.Calculator", "--port", "4000"}),
              R"({"launchApp":{"bundleID":"org.gnome.Calculator"}})");
    EXPECT_EQ(commandJson({"focus-window", "4294967295"}), R"({"focusWindow":{"_0":4294967295}})");
    EXPECT_EQ(commandJson({"pointer", "click", "0.25", "1", "--right", "--count", "2"}),
              R"({"click":{"count":2,"right":true,"x":0.25,"y":1.0}})");
    EXPECT_EQ(commandJson({"pointer", "move", "-10", "2.5"}),
              R"({"moveBy":{"dx":-10.0,"dy":2.5}})");
    EXPECT_EQ(commandJson({"pointer", "--display", "2", "scroll", "0", "-30"}),
              R"(display 2 {"scroll":{"dx":0.0,"dy":-30.0}})");
}

TEST(PointerCommand, ADragPressesMovesAlongAndReleases)
{
    auto drag = parsePointerCommand(*parseInvocation({"pointer", "drag", "0.5", "0", "0.5", "1"}));
    ASSERT_TRUE(drag.ok()) << drag.error().message;
    ASSERT_EQ(drag->events.size(), dragMoves + 2u);
    EXPECT_EQ(encodeJson(drag->events.front()).value(), R"({"dragBegan":{"x":0.5,"y":0.0}})");
    EXPECT_EQ(encodeJson(drag->events.back()).value(), R"({"dragEnded":{"x":0.5,"y":1.0}})");
    double y = 0;
    for (std::size_t i = 1; i + 1 < drag->events.size(); ++i) {
        const auto* move = std::get_if<pointer::DragChanged>(&drag->events[i]);
        ASSERT_NE(move, nullptr) << i;
        EXPECT_GT(move->y, y);
        EXPECT_LT(move->y, 1);
        y = move->y;
    }
    EXPECT_EQ(drag->target, std::pair(0.5, 1.0));
}

TEST(FriendlyCommand, RefusesMalformedArgumentsAsUsageErrors)
{
    for (const auto& argv :
         std::vector<std::vector<std::string>>{{"lock", "now"},
                                               {"volume", "loud"},
                                               {"volume"},
                                               {"window", "sideways"},
                                               {"key", "cmd+c", "0"},
                                               {"media", "rewind"},
                                               {"folder", "music"},
                                               {"focus-window", "-1"},
                                               {"force-quit", "2147483648"},
                                               {"play-music", "--player", "radio", "x"},
                                               {"type"},
                                               {"launch", "a", "b"},
                                               {"open-url", "--port"},
                                               {"key", "cmd+c", "--times", "2"},
                                               {"pointer"},
                                               {"pointer", "tap", "0.5", "0.5"},
                                               {"pointer", "click", "0.5"},
                                               {"pointer", "click", "1.5", "0.5"},
                                               {"pointer", "click", "0.5", "-0.1"},
                                               {"pointer", "click", "0.5", "0.5", "--count", "4"},
                                               {"pointer", "click", "0", "0", "--count", "0"},
                                               {"pointer", "drag", "0", "0", "1"},
                                               {"pointer", "move", "10", "nan"},
                                               {"pointer", "scroll", "1", "2", "--right"},
                                               {"pointer", "move", "1", "2", "--display", "-1"}}) {
        const std::string result = commandJson(argv);
        EXPECT_TRUE(result.starts_with("usage error: ")) << argv[0] << " -> " << result;
    }
}

TEST(Invocation, GlobalOptionsAnywhereBeforeTheSeparator)
{
    auto invocation = parseInvocation(
        {"--timeout", "2.5", "send", "--host=10.0.0.2", "file.txt", "--port", "7000"});
    ASSERT_TRUE(invocation.ok());
    EXPECT_EQ(invocation->command, "send");
    EXPECT_EQ(invocation->args, std::vector<std::string>{"file.txt"});
    EXPECT_EQ(invocation->globals.timeoutMs, 2500);
    EXPECT_EQ(invocation->globals.host, "10.0.0.2");
    EXPECT_EQ(invocation->globals.port, 7000);

    for (const auto& bad : std::vector<std::vector<std::string>>{{"--port", "0", "info"},
                                                                 {"--port", "65536", "info"},
                                                                 {"--timeout", "-1", "info"},
                                                                 {"--timeout", "soon", "info"},
                                                                 {"info", "--port"}}) {
        EXPECT_FALSE(parseInvocation(bad).ok()) << bad[0] << " " << bad[1];
    }
}

} // namespace
} // namespace orvane::phone
