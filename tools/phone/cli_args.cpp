#include "cli_args.h"

#include <charconv>
#include <cmath>

namespace orvane::phone {
namespace {

const std::set<std::string> globalValueOptions = {"--host",      "--port",     "--timeout",
                                                  "--state-dir", "--computer", "--relay"};

bool isOption(const std::string& word)
{
    return word == "-h" || (word.size() > 2 && word.starts_with("--"));
}

// "--name=value" and "--name value" are both accepted.
std::pair<std::string, std::optional<std::string>> splitInlineValue(const std::string& word)
{
    const auto eq = word.find('=');
    if (eq == std::string::npos) {
        return {word, std::nullopt};
    }
    return {word.substr(0, eq), word.substr(eq + 1)};
}

std::optional<Error> applyGlobal(GlobalOptions& globals, const std::string& name,
                                 const std::string& value)
{
    if (name == "--host") {
        globals.host = value;
    } else if (name == "--state-dir") {
        globals.stateDir = value;
    } else if (name == "--computer") {
        globals.computer = value;
    } else if (name == "--relay") {
        globals.relay = value;
    } else if (name == "--port") {
        const auto port = parseInteger(value);
        if (!port || *port < 1 || *port > 65535) {
            return usageError("--port needs a number from 1 to 65535, not \"" + value + "\"");
        }
        globals.port = static_cast<std::uint16_t>(*port);
    } else if (name == "--timeout") {
        globals.timeoutMs = parseSeconds(value);
        if (!globals.timeoutMs) {
            return usageError("--timeout needs a positive number of seconds, not \"" + value +
                              "\"");
        }
    }
    return std::nullopt;
}

} // namespace

const std::string* Arguments::value(const std::string& option) const
{
    const auto found = values.find(option);
    return found == values.end() ? nullptr : &found->second;
}

std::optional<std::int64_t> parseInteger(const std::string& text)
{
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parseDecimal(const std::string& text)
{
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> parseSeconds(const std::string& text)
{
    const auto seconds = parseDecimal(text);
    if (!seconds || *seconds <= 0 || *seconds > 86'400) {
        return std::nullopt;
    }
    return static_cast<int>(std::lround(*seconds * 1000));
}

Result<Invocation> parseInvocation(const std::vector<std::string>& argv)
{
    Invocation invocation;
    bool literal = false;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        const std::string& word = argv[i];
        if (word == "--" && !literal) {
            literal = true;
            invocation.args.push_back(word);
            continue;
        }
        if (literal || !isOption(word)) {
            if (invocation.command.empty()) {
                invocation.command = word;
            } else {
                invocation.args.push_back(word);
            }
            continue;
        }
        if (word == "--help" || word == "-h") {
            invocation.globals.help = true;
            continue;
        }
        if (word == "--version") {
            invocation.globals.version = true;
            continue;
        }
        auto [name, inlineValue] = splitInlineValue(word);
        if (!globalValueOptions.count(name)) {
            invocation.args.push_back(word); // the command's own option
            continue;
        }
        if (!inlineValue && i + 1 >= argv.size()) {
            return usageError(name + " needs a value");
        }
        const std::string value = inlineValue ? *inlineValue : argv[++i];
        if (auto error = applyGlobal(invocation.globals, name, value)) {
            return *error;
        }
    }
    return invocation;
}

Result<Arguments> splitArguments(const Invocation& invocation,
                                 const std::set<std::string>& valueOptions,
                                 const std::set<std::string>& flagOptions)
{
    Arguments parsed;
    const auto& args = invocation.args;
    bool literal = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--" && !literal) {
            literal = true;
            continue;
        }
        if (literal || !isOption(args[i])) {
            parsed.positional.push_back(args[i]);
            continue;
        }
        auto [name, inlineValue] = splitInlineValue(args[i]);
        if (flagOptions.count(name) && !inlineValue) {
            parsed.flags.insert(name);
        } else if (valueOptions.count(name)) {
            if (!inlineValue && i + 1 >= args.size()) {
                return usageError(name + " needs a value");
            }
            parsed.values[name] = inlineValue ? *inlineValue : args[++i];
        } else {
            return usageError("unknown option " + name + " for " + invocation.command);
        }
    }
    return parsed;
}

namespace {

// The commands, with their own options.
const char* commandsHelp()
{
    return R"(Usage: orvane-phone [options] COMMAND [arguments]

A phone for an Orvane computer: pairs with it, then sends commands, requests
and files over the encrypted session.

Commands:
  discover                     list Orvane computers on the local network
  pair [--code CODE | --qr URL] [--name NAME]
                               pair with a computer; asks for the code shown
                               on the computer when neither is given
  run JSON                     run a command given as JSON, for example
                               '{"system":{"_0":{"lock":{}}}}'
  send FILE                    send a file; the computer saves it in Downloads
  info | stats | clipboard | windows [--thumbnails DIR]
                               print the computer's information, usage
                               statistics, clipboard text or windows as JSON;
                               --thumbnails saves the windows' pictures that
                               follow as DIR/window-ID.jpg
  watch [--preview] [--display ID] [--save DIR] [--frames N] [--seconds S]
        [--slow MS]            watch the screen: prints the displays, then
                               frames and bytes a second; --save writes every
                               frame as a numbered JPEG; --slow reads each
                               frame MS late on purpose
  pointer ACTION [--display ID]
                               watch the screen while driving the pointer,
                               then print the display and where the cursor is;
                               positions run from 0 to 1 across the display
                               (0 0 the top left), DX DY are pixels:
      click X Y [--right] [--count 1|2|3]
      drag X1 Y1 X2 Y2         press at one position, release at the other
      move DX DY               move the cursor by a distance
      scroll DX DY             scroll as a finger would: DY > 0 scrolls up,
                               DX > 0 left; about 15 pixels a wheel step
  listen [--seconds S]         print every message from the computer as a
                               JSON line

)";
}

// The commands that run one thing on the computer, by a short name.
const char* shortcutsHelp()
{
    return R"(Shortcuts for run:
  key KEYS [TIMES]             press a key, e.g. cmd+shift+c, ctrl+left, return
  type TEXT...                 type text
  open-url URL                 open a link
  launch BUNDLEID              start an application by its id
  open-app NAME                start an application by its name
  quit BUNDLEID | quit-all     quit one application, or all
  media ACTION                 play, pause, toggle, next, previous, volume-up,
                               volume-down, shuffle, volume N, seek S, skip S
  play-music [--player spotify|music] QUERY...
  volume N | up | down | mute  the computer's output volume
  brightness up | down
  dark-mode | display-sleep | sleep | lock
  keep-awake on | off
  window ACTION                full-screen, minimize, hide-app, close,
                               left-half, right-half, maximize, center, next
  folder NAME                  downloads, desktop, documents, applications,
                               home, orvane
  set-clipboard TEXT...        replace the computer's clipboard text
  shortcut NAME                run a user-defined shortcut
  focus-window ID | force-quit PID

)";
}

// The options every command takes, and what the exit status says.
const char* optionsHelp()
{
    return R"(Options:
  --host HOST        the computer's address (default: found on the network,
                     or 127.0.0.1 when only --port is given)
  --port PORT        the computer's port (default: found on the network)
  --computer NAME    which paired computer to use (default: the last paired)
  --relay URL        reach a paired computer from anywhere through this relay
                     (the same address the computer uses, e.g.
                     wss://relay.example.org); its room comes from the token
  --timeout S        seconds to wait for each answer (default 10; for
                     discover, how long to browse, default 3)
  --state-dir DIR    where the phone keeps its identity and tokens (default
                     $XDG_STATE_HOME/orvane-phone)
  --help, --version

Exit status: 0 on success, 1 when the computer or the connection failed,
2 for a usage error. Commands other than pair reconnect with the saved token.
)";
}

} // namespace

std::string usageText()
{
    return std::string(commandsHelp()) + shortcutsHelp() + optionsHelp();
}

} // namespace orvane::phone
