#include "friendly_command.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <functional>
#include <limits>
#include <map>

namespace orvane::phone {
namespace {

using Key = KeyShortcut::Key;
using Modifier = KeyShortcut::Modifier;
using Parser = std::function<Result<OrvaneCommand>(const Arguments&)>;

std::string lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string joined(const std::vector<std::string>& words)
{
    std::string text;
    for (const auto& word : words) {
        text += (text.empty() ? "" : " ") + word;
    }
    return text;
}

template <class E> std::optional<E> enumFromText(std::string_view text)
{
    const auto& texts = EnumTexts<E>::texts;
    const auto found = std::find(texts.begin(), texts.end(), text);
    if (found == texts.end()) {
        return std::nullopt;
    }
    return static_cast<E>(found - texts.begin());
}

std::optional<Modifier> modifierNamed(const std::string& name)
{
    static const std::map<std::string, Modifier> names = {
        {"cmd", Modifier::command},  {"command", Modifier::command}, {"super", Modifier::command},
        {"meta", Modifier::command}, {"ctrl", Modifier::control},    {"control", Modifier::control},
        {"alt", Modifier::option},   {"opt", Modifier::option},      {"option", Modifier::option},
        {"shift", Modifier::shift},
    };
    const auto found = names.find(lower(name));
    return found == names.end() ? std::nullopt : std::optional(found->second);
}

std::optional<Key> keyNamed(const std::string& name)
{
    static const std::map<std::string, Key> aliases = {
        {"enter", Key::return_},
        {"backspace", Key::delete_},
        {"esc", Key::escape},
        {"comma", Key::comma},
        {"period", Key::period},
        {"dot", Key::period},
        {"slash", Key::slash},
        {"minus", Key::minus},
        {"equal", Key::equal},
        {"equals", Key::equal},
        {"leftbracket", Key::leftBracket},
        {"rightbracket", Key::rightBracket},
        {"grave", Key::grave},
        {"backtick", Key::grave},
    };
    const std::string text = lower(name);
    if (auto key = enumFromText<Key>(text)) {
        return key;
    }
    const auto found = aliases.find(text);
    return found == aliases.end() ? std::nullopt : std::optional(found->second);
}

template <class T> std::optional<T> number(const std::string& text)
{
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end) {
        return std::nullopt;
    }
    if constexpr (std::is_floating_point_v<T>) {
        if (!std::isfinite(value)) {
            return std::nullopt;
        }
    }
    return value;
}

Error expectsError(const std::string& verb, const std::string& expected)
{
    return usageError(verb + " expects " + expected);
}

// Checks the number of positional words: exactly `count`, or at least one
// when count is -1.
std::optional<Error> expectWords(const Arguments& args, const std::string& verb, int count,
                                 const std::string& expected)
{
    const auto have = static_cast<int>(args.positional.size());
    if ((count < 0 && have == 0) || (count >= 0 && have != count)) {
        return expectsError(verb, expected);
    }
    return std::nullopt;
}

Result<OrvaneCommand> keyCommand(const Arguments& args)
{
    if (args.positional.empty() || args.positional.size() > 2) {
        return expectsError("key", "a key such as cmd+shift+c and an optional repeat count");
    }
    auto shortcut = parseKeyCombo(args.positional[0]);
    if (!shortcut) {
        return shortcut.error();
    }
    if (args.positional.size() == 1) {
        return OrvaneCommand{command::PressShortcut{{*shortcut}}};
    }
    const auto times = number<std::int64_t>(args.positional[1]);
    if (!times || *times < 1) {
        return usageError("key: the repeat count must be a whole number of 1 or more");
    }
    return OrvaneCommand{command::PressKey{*shortcut, *times}};
}

Result<OrvaneCommand> mediaCommand(const Arguments& args)
{
    static const std::map<std::string, MediaAction> simple = {
        {"play", media::Play{}},
        {"pause", media::Pause{}},
        {"toggle", media::PlayPause{}},
        {"play-pause", media::PlayPause{}},
        {"next", media::Next{}},
        {"previous", media::Previous{}},
        {"prev", media::Previous{}},
        {"volume-up", media::VolumeUp{}},
        {"volume-down", media::VolumeDown{}},
        {"shuffle", media::ToggleShuffle{}},
    };
    const std::string expected = "an action: play, pause, toggle, next, previous, volume-up, "
                                 "volume-down, shuffle, volume N, seek S or skip S";
    if (args.positional.empty() || args.positional.size() > 2) {
        return expectsError("media", expected);
    }
    const std::string& action = args.positional[0];
    if (args.positional.size() == 1 && simple.count(action)) {
        return OrvaneCommand{command::Media{{simple.at(action)}}};
    }
    if (args.positional.size() == 2 && action == "volume") {
        if (auto volume = number<std::int64_t>(args.positional[1])) {
            return OrvaneCommand{command::Media{{media::SetVolume{*volume}}}};
        }
    }
    if (args.positional.size() == 2 && (action == "seek" || action == "skip")) {
        if (auto seconds = number<double>(args.positional[1])) {
            const MediaAction move = action == "seek" ? MediaAction{media::Seek{*seconds}}
                                                      : MediaAction{media::Skip{*seconds}};
            return OrvaneCommand{command::Media{{move}}};
        }
    }
    return expectsError("media", expected);
}

Result<OrvaneCommand> volumeCommand(const Arguments& args)
{
    if (auto error = expectWords(args, "volume", 1, "a level N, up, down or mute")) {
        return *error;
    }
    const std::string& word = args.positional[0];
    SystemAction action;
    if (word == "up") {
        action = sys::VolumeUp{};
    } else if (word == "down") {
        action = sys::VolumeDown{};
    } else if (word == "mute") {
        action = sys::ToggleMute{};
    } else if (auto level = number<std::int64_t>(word)) {
        action = sys::SetVolume{*level};
    } else {
        return expectsError("volume", "a level N, up, down or mute");
    }
    return OrvaneCommand{command::System{{action}}};
}

Result<OrvaneCommand> playMusicCommand(const Arguments& args)
{
    if (auto error = expectWords(args, "play-music", -1, "a search text")) {
        return *error;
    }
    command::PlayMusic play{{joined(args.positional)}, std::nullopt};
    if (const std::string* player = args.value("--player")) {
        play.player = enumFromText<MediaPlayer>(*player);
        if (!play.player) {
            return usageError("--player is spotify or music, not \"" + *player + "\"");
        }
    }
    return OrvaneCommand{play};
}

Result<OrvaneCommand> windowCommand(const Arguments& args)
{
    static const std::map<std::string, WindowAction> kebab = {
        {"full-screen", WindowAction::fullScreen}, {"hide-app", WindowAction::hideApp},
        {"left-half", WindowAction::leftHalf},     {"right-half", WindowAction::rightHalf},
        {"next", WindowAction::nextWindow},
    };
    const std::string expected = "an action: full-screen, minimize, hide-app, close, left-half, "
                                 "right-half, maximize, center or next";
    if (auto error = expectWords(args, "window", 1, expected)) {
        return *error;
    }
    const std::string& word = args.positional[0];
    auto action = enumFromText<WindowAction>(word);
    if (!action && kebab.count(word)) {
        action = kebab.at(word);
    }
    if (!action) {
        return expectsError("window", expected);
    }
    return OrvaneCommand{command::Window{{*action}}};
}

// A command with one required word of type T, e.g. `focus-window 42`.
template <class Case, class T> Parser oneNumber(std::string verb, std::string what)
{
    return [verb, what](const Arguments& args) -> Result<OrvaneCommand> {
        const auto value =
            args.positional.size() == 1 ? number<std::int64_t>(args.positional[0]) : std::nullopt;
        if (!value || *value < std::numeric_limits<T>::min() ||
            *value > std::numeric_limits<T>::max()) {
            return expectsError(verb, what);
        }
        return OrvaneCommand{Case{{static_cast<T>(*value)}}};
    };
}

// A command whose payload is the words that follow, joined by spaces
// (count -1), or exactly one word (count 1).
template <class Case> Parser text(std::string verb, int count, std::string what)
{
    return [verb, count, what](const Arguments& args) -> Result<OrvaneCommand> {
        if (auto error = expectWords(args, verb, count, what)) {
            return *error;
        }
        return OrvaneCommand{Case{{joined(args.positional)}}};
    };
}

Parser fixed(std::string verb, OrvaneCommand command)
{
    return [verb, command](const Arguments& args) -> Result<OrvaneCommand> {
        if (auto error = expectWords(args, verb, 0, "no arguments")) {
            return *error;
        }
        return command;
    };
}

// `brightness up`, `keep-awake on`: one word picks one of two actions.
Parser choice(std::string verb, std::string first, SystemAction a, std::string second,
              SystemAction b)
{
    return [=](const Arguments& args) -> Result<OrvaneCommand> {
        const std::string expected = first + " or " + second;
        if (auto error = expectWords(args, verb, 1, expected)) {
            return *error;
        }
        const std::string& word = args.positional[0];
        if (word != first && word != second) {
            return expectsError(verb, expected);
        }
        return OrvaneCommand{command::System{{word == first ? a : b}}};
    };
}

Result<OrvaneCommand> folderCommand(const Arguments& args)
{
    const std::string expected =
        "a folder: downloads, desktop, documents, applications, home or orvane";
    if (auto error = expectWords(args, "folder", 1, expected)) {
        return *error;
    }
    const auto folder = enumFromText<MacFolder>(lower(args.positional[0]));
    if (!folder) {
        return expectsError("folder", expected);
    }
    return OrvaneCommand{command::OpenFolder{{*folder}}};
}

OrvaneCommand systemCommand(SystemAction action)
{
    return command::System{{action}};
}

const std::map<std::string, Parser>& parsers()
{
    static const std::map<std::string, Parser> table = {
        {"key", keyCommand},
        {"type", text<command::TypeText>("type", -1, "the text to type")},
        {"open-url", text<command::OpenURL>("open-url", 1, "one link")},
        {"launch", text<command::LaunchApp>("launch", 1, "one application id")},
        {"open-app", text<command::OpenApp>("open-app", -1, "an application name")},
        {"quit", text<command::QuitApp>("quit", 1, "one application id")},
        {"quit-all", fixed("quit-all", command::QuitAllApps{})},
        {"media", mediaCommand},
        {"play-music", playMusicCommand},
        {"volume", volumeCommand},
        {"brightness",
         choice("brightness", "up", sys::BrightnessUp{}, "down", sys::BrightnessDown{})},
        {"keep-awake",
         choice("keep-awake", "on", sys::SetKeepAwake{true}, "off", sys::SetKeepAwake{false})},
        {"dark-mode", fixed("dark-mode", systemCommand(sys::ToggleDarkMode{}))},
        {"display-sleep", fixed("display-sleep", systemCommand(sys::DisplaySleep{}))},
        {"sleep", fixed("sleep", systemCommand(sys::Sleep{}))},
        {"lock", fixed("lock", systemCommand(sys::Lock{}))},
        {"window", windowCommand},
        {"folder", folderCommand},
        {"set-clipboard", text<command::SetClipboard>("set-clipboard", -1, "the text")},
        {"shortcut", text<command::RunShortcut>("shortcut", -1, "a shortcut name")},
        {"focus-window",
         oneNumber<command::FocusWindow, std::uint32_t>("focus-window", "one window id")},
        {"force-quit", oneNumber<command::ForceQuit, std::int32_t>("force-quit", "one process id")},
    };
    return table;
}

} // namespace

Result<KeyShortcut> parseKeyCombo(std::string_view combo)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t plus = combo.find('+');; plus = combo.find('+', start)) {
        parts.emplace_back(combo.substr(start, plus - start));
        if (plus == std::string_view::npos) {
            break;
        }
        start = plus + 1;
    }
    if (std::any_of(parts.begin(), parts.end(), [](const auto& p) { return p.empty(); })) {
        return usageError("key \"" + std::string(combo) + "\" has an empty part");
    }
    KeyShortcut shortcut;
    const auto key = keyNamed(parts.back());
    if (!key) {
        return usageError("unknown key \"" + parts.back() + "\" in \"" + std::string(combo) + "\"");
    }
    shortcut.key = *key;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        const auto modifier = modifierNamed(parts[i]);
        if (!modifier) {
            return usageError("unknown modifier \"" + parts[i] + "\" (use cmd, ctrl, alt, shift)");
        }
        if (std::find(shortcut.modifiers.begin(), shortcut.modifiers.end(), *modifier) ==
            shortcut.modifiers.end()) {
            shortcut.modifiers.push_back(*modifier);
        }
    }
    return shortcut;
}

bool isFriendlyVerb(const std::string& verb)
{
    return parsers().count(verb) != 0;
}

Result<OrvaneCommand> parseFriendlyCommand(const Invocation& invocation)
{
    const auto found = parsers().find(invocation.command);
    if (found == parsers().end()) {
        return usageError("unknown command \"" + invocation.command + "\"");
    }
    const std::set<std::string> options = invocation.command == "play-music"
                                              ? std::set<std::string>{"--player"}
                                              : std::set<std::string>{};
    auto args = splitArguments(invocation, options);
    if (!args) {
        return args.error();
    }
    return found->second(*args);
}

} // namespace orvane::phone
