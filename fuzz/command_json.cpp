#include "command_json.h"

#include <array>
#include <cinttypes>
#include <cstdio>

namespace orvane::fuzz {

namespace {

// Where numbers go wrong: the edges of every integer type the fields use,
// 2^53 where doubles stop counting, overflow to infinity, and the tokens
// JSON does not have.
constexpr const char* edgeNumbers[] = {
    "0",
    "-0",
    "1",
    "-1",
    "0.5",
    "-0.5",
    "1e308",
    "-1e308",
    "1e309",
    "-1e309",
    "NaN",
    "Infinity",
    "-Infinity",
    "9007199254740992",
    "9007199254740993",
    "-9007199254740992",
    "9223372036854775807",
    "9223372036854775808",
    "-9223372036854775808",
    "-9223372036854775809",
    "18446744073709551615",
    "4294967295",
    "4294967296",
    "2147483647",
    "-2147483649",
    "1e-320",
    "100",
    "101",
    "60",
    "1.0e2",
};

constexpr const char* keys[] = {
    "a",    "z", "0", "9", "space", "return", "tab", "delete", "escape", "left", "right", "up",
    "down", ",", ".", "/", "-",     "=",      "[",   "]",      "`",      "A",    "f13",   "",
};
constexpr const char* modifiers[] = {"control", "option", "shift", "command", "super", ""};
constexpr const char* mediaCases[] = {"play",     "pause",      "playPause",     "next", "previous",
                                      "volumeUp", "volumeDown", "toggleShuffle", "stop"};
constexpr const char* systemCases[] = {
    "volumeUp",       "volumeDown",   "toggleMute", "brightnessUp", "brightnessDown",
    "toggleDarkMode", "displaySleep", "sleep",      "lock",         "shutDown"};
constexpr const char* windowActions[] = {"fullScreen", "minimize",  "hideApp",  "close",
                                         "leftHalf",   "rightHalf", "maximize", "center",
                                         "nextWindow", "topHalf"};
constexpr const char* folders[] = {"downloads", "desktop", "documents", "applications",
                                   "home",      "orvane",  "..",        "/etc"};
constexpr const char* players[] = {"spotify", "music", "vlc"};
// Characters that grow when decomposed or folded (U+FDFA into 18, U+0390
// into 3), combining marks of different classes that reordering shuffles,
// and joiners that glue everything into one character.
constexpr const char* expanding[] = {"\uFDFA",       "\u0390",       "a\u0301\u0316",
                                     "\u0345",       "\u0301\u0316", "\U0001F468\u200D",
                                     "\u1100\u1161", "\uAC00",       "\u00DF"};

std::string quoted(std::string_view value)
{
    // Quotes and backslashes are escaped so the text stays one string, but
    // "\u" escapes are kept; every other byte goes in raw, invalid UTF-8
    // and controls included.
    std::string out = "\"";
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '"' || (c == '\\' && value.substr(i, 2) != "\\u"))
            out += '\\';
        out += c;
    }
    return out + '"';
}

} // namespace

std::string CommandJson::member(const char* key, const std::string& value)
{
    switch (m_in.ConsumeIntegralInRange(0, 15)) {
    case 0:
        return {};
    case 1:
        return quoted(key) + ':' + anyValue(0);
    default:
        return quoted(key) + ':' + value;
    }
}

std::string CommandJson::object(const std::string& caseName,
                                std::initializer_list<std::string> members)
{
    std::string body;
    for (const std::string& m : members)
        if (!m.empty())
            body += (body.empty() ? "" : ",") + m;
    return "{" + quoted(caseName) + ":{" + body + "}}";
}

std::string CommandJson::anyValue(int depth)
{
    switch (depth > 8 ? 0 : m_in.ConsumeIntegralInRange(0, 5)) {
    case 0:
        return "null";
    case 1:
        return flag();
    case 2:
        return number();
    case 3:
        return text();
    case 4:
        return "[" + anyValue(depth + 1) + "]";
    default:
        return "{\"_0\":" + anyValue(depth + 1) + "}";
    }
}

std::string CommandJson::number()
{
    char buffer[40];
    switch (m_in.ConsumeIntegralInRange(0, 3)) {
    case 0:
        std::snprintf(buffer, sizeof buffer, "%" PRId64, m_in.ConsumeIntegral<std::int64_t>());
        return buffer;
    case 1:
        std::snprintf(buffer, sizeof buffer, "%.17g", m_in.ConsumeFloatingPoint<double>());
        return buffer;
    default:
        return edgeNumbers[m_in.ConsumeIntegralInRange<std::size_t>(0, std::size(edgeNumbers) - 1)];
    }
}

std::string CommandJson::flag()
{
    return m_in.ConsumeBool() ? "true" : "false";
}

std::string CommandJson::text()
{
    switch (m_in.ConsumeIntegralInRange(0, 7)) {
    case 0:
        return "\"\"";
    case 1: {
        // Huge: one piece repeated up to 64 KiB, far past every slice and
        // label the families cut text into.
        const std::string piece = m_in.ConsumeRandomLengthString(8);
        const std::size_t times = m_in.ConsumeIntegralInRange<std::size_t>(1, 1 << 13);
        std::string value;
        for (std::size_t i = 0; i < times && !piece.empty(); ++i)
            value += piece;
        return quoted(value);
    }
    case 2:
        return quoted("\\ud800 \\udfff \\ud83d\\ude00 \\u0000 \\u001b[2J \\u202e");
    case 3: {
        // Long and expanding: up to 64 Ki of them, the size at which
        // decomposing a whole name took seconds.
        const char* piece =
            expanding[m_in.ConsumeIntegralInRange<std::size_t>(0, std::size(expanding) - 1)];
        const std::size_t times = m_in.ConsumeIntegralInRange<std::size_t>(1, 1 << 16);
        std::string value;
        for (std::size_t i = 0; i < times; ++i)
            value += piece;
        return quoted(value);
    }
    default:
        return quoted(m_in.ConsumeRandomLengthString(64));
    }
}

std::string CommandJson::choice(std::span<const char* const> texts)
{
    if (m_in.ConsumeIntegralInRange(0, 15) == 0)
        return text();
    return quoted(texts[m_in.ConsumeIntegralInRange<std::size_t>(0, texts.size() - 1)]);
}

std::string CommandJson::shortcut()
{
    std::string list;
    const int count = m_in.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < count; ++i)
        list += (i ? "," : "") + choice(modifiers);
    return "{" + member("key", choice(keys)) + ",\"modifiers\":[" + list + "]}";
}

std::string CommandJson::mediaAction()
{
    switch (m_in.ConsumeIntegralInRange(0, 3)) {
    case 0:
        return object("setVolume", {member("_0", number())});
    case 1:
        return object("seek", {member("_0", number())});
    case 2:
        return object("skip", {member("_0", number())});
    default:
        return "{" + choice(mediaCases) + ":{}}";
    }
}

std::string CommandJson::systemAction()
{
    switch (m_in.ConsumeIntegralInRange(0, 2)) {
    case 0:
        return object("setVolume", {member("_0", number())});
    case 1:
        return object("setKeepAwake", {member("_0", flag())});
    default:
        return "{" + choice(systemCases) + ":{}}";
    }
}

std::string CommandJson::command()
{
    const auto str = [&](const char* key) { return member(key, text()); };
    switch (m_in.ConsumeIntegralInRange(0, 18)) {
    case 0:
        return object("launchApp", {str("bundleID")});
    case 1:
        return object("openApp", {str("name")});
    case 2:
        return object("keyShortcut", {member("_0", shortcut())});
    case 3:
        return object("runShortcut", {str("name")});
    case 4:
        return object("typeText", {str("_0")});
    case 5:
        return object("media", {member("_0", mediaAction())});
    case 6:
        return object("quitApp", {str("bundleID")});
    case 7:
        return object("system", {member("_0", systemAction())});
    case 8:
        return object("setClipboard", {str("_0")});
    case 9:
        return object("openURL", {str("_0")});
    case 10:
        return object("window", {member("_0", choice(windowActions))});
    case 11:
        return object("quitAppNamed", {str("_0")});
    case 12:
        return object("quitAllApps", {});
    case 13:
        return object("openFolder", {member("_0", choice(folders))});
    case 14:
        return object("playMusic", {str("query"), member("player", choice(players))});
    case 15:
        return object("pressKey", {member("_0", shortcut()), member("times", number())});
    case 16:
        return object("focusWindow", {member("_0", number())});
    case 17:
        return object("forceQuit", {member("pid", number())});
    default:
        return object(m_in.ConsumeRandomLengthString(16), {member("_0", anyValue(0))});
    }
}

} // namespace orvane::fuzz
