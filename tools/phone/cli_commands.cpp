#include "cli_runner.h"

#include "protocol/codec.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>

namespace orvane::phone::detail {
namespace {

std::string trimmed(std::string text)
{
    const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    text.erase(text.begin(), std::find_if(text.begin(), text.end(), notSpace));
    text.erase(std::find_if(text.rbegin(), text.rend(), notSpace).base(), text.end());
    return text;
}

} // namespace

int Cli::pair()
{
    auto args = arguments({"--code", "--qr", "--name"}, {}, 0, 0);
    if (!args) {
        return reportError(args.error());
    }
    const std::string* code = args->value("--code");
    const std::string* url = args->value("--qr");
    if (code && url) {
        return usage("give either --code or --qr, not both");
    }
    if (code && !isPairingCode(*code)) {
        return usage("a pairing code is six digits, not \"" + *code + "\"");
    }
    std::optional<PairingUrl> pairing;
    if (url) {
        auto parsed = parsePairingUrl(*url);
        if (!parsed) {
            return usage(parsed.error().message);
        }
        pairing = *parsed;
    }
    auto loaded = state();
    if (!loaded) {
        return fail(loaded.error());
    }
    if (const std::string* name = args->value("--name")) {
        loaded->deviceName = *name;
        if (auto saved = saveState(*loaded); !saved) {
            return fail(saved.error());
        }
    }
    // The QR code names the computer, which picks it out on the network.
    const std::string preferred =
        m_inv.globals.computer.value_or(pairing ? pairing->computerName : "");
    auto endpoint = resolveEndpoint(preferred);
    if (!endpoint) {
        return fail(endpoint.error());
    }
    PhoneClient client;
    if (auto connected = connect(client, *endpoint); !connected) {
        return fail(connected.error());
    }
    auto exchanged = client.hello(loaded->deviceName, loaded->deviceID, false);
    if (!exchanged) {
        return fail(exchanged.error());
    }
    if (!exchanged->pairingRequired) {
        return fail("the computer did not ask for pairing");
    }
    return pairLoop(client, *loaded, *args);
}

// One attempt per code until the computer accepts one, refuses, or the
// phone runs out of codes to offer.
int Cli::pairLoop(PhoneClient& client, PhoneState& phone, const Arguments& args)
{
    const std::string* givenCode = args.value("--code");
    const std::string* url = args.value("--qr");
    bool useGiven = givenCode != nullptr;
    for (;;) {
        Result<PairOutcome> outcome = failure("no attempt made");
        if (url) {
            outcome = client.pairWithQrUrl(*url);
        } else {
            std::optional<std::string> code;
            if (useGiven) {
                code = *givenCode;
                useGiven = false;
            } else if (auto reason = client.pendingRejection(rejectionPeekMs)) {
                return fail("the computer refused pairing: " + *reason);
            } else {
                code = promptCode();
            }
            if (!code) {
                return fail("no pairing code given");
            }
            outcome = client.pairWithCode(*code);
        }
        if (!outcome) {
            return fail(outcome.error());
        }
        switch (outcome->kind) {
        case PairOutcome::Kind::paired: {
            const std::string& name = outcome->welcome.macName;
            phone.tokens[name] = outcome->token;
            phone.lastComputer = name;
            if (auto saved = saveState(phone); !saved) {
                return fail("paired, but the token could not be saved: " + saved.error().message);
            }
            m_out << "Paired with " << name << "." << std::endl;
            return exitOk;
        }
        case PairOutcome::Kind::rejected:
            return fail("the computer refused pairing: " + outcome->reason);
        case PairOutcome::Kind::wrongCode: {
            const auto left = outcome->remainingAttempts;
            const std::string what = url ? "the QR key was not accepted" : "wrong code";
            const std::string attempts =
                std::to_string(left) + (left == 1 ? " attempt" : " attempts");
            // A code given on the command line cannot be corrected by asking
            // again unless someone is there to answer.
            if (url || left <= 0 || (givenCode && !m_interactive)) {
                return fail(what + " (" + attempts + " left)");
            }
            m_err << "Wrong code; " << attempts << " left." << std::endl;
            break;
        }
        }
    }
}

std::optional<std::string> Cli::promptCode()
{
    for (;;) {
        if (m_interactive) {
            m_err << "Enter the code shown on the computer: " << std::flush;
        }
        std::string line;
        if (!std::getline(m_in, line)) {
            return std::nullopt;
        }
        line = trimmed(line);
        if (isPairingCode(line)) {
            return line;
        }
        m_err << "A pairing code is six digits." << std::endl;
    }
}

int Cli::runCommand(const OrvaneCommand& command)
{
    PhoneClient client;
    if (auto opened = openSession(client); !opened) {
        return fail(opened.error());
    }
    return reportResult(client, client.run(command), "the command failed");
}

// Waits for the `result` that answers `id` and prints it.
int Cli::reportResult(PhoneClient& client, const Result<Uuid>& id, const char* failure)
{
    if (!id) {
        return fail(id.error());
    }
    auto result = client.waitForResult(*id, timeoutMs());
    if (!result) {
        return fail(result.error());
    }
    if (!result->success) {
        return fail(result->message.empty() ? failure : result->message);
    }
    m_out << result->message << std::endl;
    return exitOk;
}

int Cli::sendFile()
{
    auto args = arguments({}, {}, 1, 1);
    if (!args) {
        return reportError(args.error());
    }
    const std::string& path = args->positional[0];
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        return fail("cannot send " + path + ": not a readable file");
    }
    PhoneClient client;
    if (auto opened = openSession(client); !opened) {
        return fail(opened.error());
    }
    return reportResult(client, client.sendFile(path), "the computer did not keep the file");
}

namespace {

// A JSON array of the items, each as the wire writes it.
template <class T> Result<std::string> encodeJsonList(const std::vector<T>& items)
{
    std::string out = "[";
    for (const T& item : items) {
        Result<std::string> one = encodeJson(item);
        if (!one)
            return one;
        out += (out.size() > 1 ? "," : "") + *one;
    }
    return out + "]";
}

} // namespace

namespace {

// The pictures that follow a window list, as window-ID.jpg files: one per
// window at most, until the computer has sent none for a while (windows it
// has no picture of yet get none).
std::size_t saveThumbnails(PhoneClient& client, const std::filesystem::path& dir,
                           std::size_t windows)
{
    constexpr int quietMs = 1500;
    std::size_t saved = 0;
    while (saved < windows) {
        auto picture = client.receiveCase<msg::WindowThumbnail>(quietMs);
        if (!picture) {
            break;
        }
        const std::string name = "window-" + std::to_string(picture->id) + ".jpg";
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(picture->jpeg.data()),
                   static_cast<std::streamsize>(picture->jpeg.size()));
        ++saved;
    }
    return saved;
}

} // namespace

// The computer also pushes some of these cases unasked (macInfo right after
// welcome); any instance of the wanted case is a current answer.
int Cli::request()
{
    const bool windowList = m_inv.command == "windows";
    auto args = windowList ? arguments({"--thumbnails"}, {}, 0, 0) : arguments({}, {}, 0, 0);
    if (!args) {
        return reportError(args.error());
    }
    std::optional<std::filesystem::path> thumbnails;
    if (const std::string* dir = args->value("--thumbnails")) {
        std::error_code ec;
        std::filesystem::create_directories(*dir, ec);
        if (ec) {
            return fail("cannot make " + *dir + ": " + ec.message());
        }
        thumbnails = *dir;
    }
    PhoneClient client;
    if (auto opened = openSession(client); !opened) {
        return fail(opened.error());
    }
    const std::string& what = m_inv.command;
    const OrvaneMessage ask = what == "info"      ? OrvaneMessage{msg::RequestInfo{}}
                              : what == "stats"   ? OrvaneMessage{msg::RequestStats{}}
                              : what == "windows" ? OrvaneMessage{msg::RequestWindows{}}
                                                  : OrvaneMessage{msg::RequestClipboard{}};
    if (auto sent = client.send(ask); !sent) {
        return fail(sent.error());
    }
    Result<std::string> json = failure("");
    if (what == "info") {
        auto info = client.receiveCase<msg::Info>(timeoutMs());
        json = info ? encodeJson(info->value) : Result<std::string>(info.error());
    } else if (what == "stats") {
        auto stats = client.receiveCase<msg::Stats>(timeoutMs());
        json = stats ? encodeJson(stats->value) : Result<std::string>(stats.error());
    } else if (what == "windows") {
        auto windows = client.receiveCase<msg::Windows>(timeoutMs());
        json = windows ? encodeJsonList(windows->value) : Result<std::string>(windows.error());
        if (windows && thumbnails) {
            const std::size_t saved = saveThumbnails(client, *thumbnails, windows->value.size());
            m_err << "orvane-phone: " << saved << " of " << windows->value.size()
                  << " window pictures saved in " << thumbnails->string() << std::endl;
        }
    } else {
        auto clip = client.receiveCase<msg::Clipboard>(timeoutMs());
        json = clip ? (clip->value
                           ? nlohmann::json(*clip->value)
                                 .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                           : std::string("null"))
                    : Result<std::string>(clip.error());
    }
    if (!json) {
        return fail(Error{"no " + what + " from the computer: " + json.error().message,
                          json.error().where});
    }
    m_out << *json << std::endl;
    return exitOk;
}

int Cli::listen()
{
    auto args = arguments({"--seconds"}, {}, 0, 0);
    if (!args) {
        return reportError(args.error());
    }
    std::optional<int> durationMs;
    if (const std::string* duration = args->value("--seconds")) {
        durationMs = parseSeconds(*duration);
        if (!durationMs) {
            return usage("--seconds needs a positive number");
        }
    }
    PhoneClient client;
    if (auto opened = openSession(client); !opened) {
        return fail(opened.error());
    }
    const auto end = durationMs ? deadlineAfter(*durationMs) : Clock::time_point::max();
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0) {
            return exitOk;
        }
        auto received = client.receive(static_cast<int>(std::min<long long>(left.count(), 60'000)));
        if (!received) {
            if (isTimeout(received.error())) {
                continue;
            }
            return fail(received.error());
        }
        auto json = encodeMessage(received->message);
        m_out << (json ? *json : json.error().message) << std::endl;
    }
}

} // namespace orvane::phone::detail
