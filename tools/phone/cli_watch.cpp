// orvane-phone watch: the computer's screen from the terminal, with the
// figures a person or a test wants: frames and bytes a second, the displays.
#include "cli_runner.h"

#include "protocol/codec.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <thread>

namespace orvane::phone::detail {
namespace {

struct WatchOptions {
    bool preview = false;
    std::optional<std::uint32_t> display;
    std::optional<std::filesystem::path> saveDir;
    std::optional<std::int64_t> frames;
    std::optional<int> durationMs;
    int slowMs = 0;
};

Result<WatchOptions> watchOptions(const Arguments& args)
{
    WatchOptions options;
    options.preview = args.has("--preview");
    auto number = [&](const char* name, std::int64_t least) -> Result<std::optional<std::int64_t>> {
        const std::string* text = args.value(name);
        if (!text) {
            return std::optional<std::int64_t>{};
        }
        auto value = parseInteger(*text);
        if (!value || *value < least) {
            return Error{std::string(name) + " needs a whole number from " + std::to_string(least),
                         {}};
        }
        return std::optional(*value);
    };
    auto display = number("--display", 0);
    auto frames = number("--frames", 1);
    auto slow = number("--slow", 0);
    for (const auto* parsed : {&display, &frames, &slow}) {
        if (!*parsed) {
            return parsed->error();
        }
    }
    if (*display) {
        options.display = static_cast<std::uint32_t>(**display);
    }
    options.frames = *frames;
    options.slowMs = static_cast<int>(slow->value_or(0));
    if (const std::string* seconds = args.value("--seconds")) {
        options.durationMs = parseSeconds(*seconds);
        if (!options.durationMs) {
            return Error{"--seconds needs a positive number", {}};
        }
    }
    if (const std::string* dir = args.value("--save")) {
        options.saveDir = *dir;
        std::error_code ec;
        std::filesystem::create_directories(*options.saveDir, ec);
        if (ec) {
            return Error{"cannot make " + *dir + ": " + ec.message(), {}};
        }
    }
    return options;
}

void printDisplays(std::ostream& out, const msg::Displays& displays)
{
    for (const DisplayInfo& display : displays.displays) {
        out << "display " << display.id << " \"" << display.name << "\" " << display.width << "x"
            << display.height << (display.isMain ? " main" : "")
            << (display.id == displays.selectedID ? " selected" : "") << std::endl;
    }
}

// What watch counts: every picture, and the pictures and bytes of the
// second under way.
struct WatchFigures {
    std::int64_t frames = 0, framesThisSecond = 0;
    std::size_t bytes = 0, bytesThisSecond = 0;

    void count(std::size_t size)
    {
        ++frames;
        ++framesThisSecond;
        bytes += size;
        bytesThisSecond += size;
    }
    void reportSecond(std::ostream& out)
    {
        out << framesThisSecond << " frames/s " << bytesThisSecond << " bytes/s" << std::endl;
        framesThisSecond = 0;
        bytesThisSecond = 0;
    }
};

void saveFrame(const std::filesystem::path& dir, std::int64_t number, const Bytes& jpeg)
{
    char name[32];
    std::snprintf(name, sizeof name, "frame-%06lld.jpg", static_cast<long long>(number));
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(jpeg.data()),
               static_cast<std::streamsize>(jpeg.size()));
}

// Takes one frame from the computer: counts and keeps a picture, prints the
// displays. Returns why the watch ends, when this frame ends it.
std::optional<std::string> takeFrame(const FrameEvent& event, const WatchOptions& options,
                                     WatchFigures& figures, std::ostream& out)
{
    if (auto* binary = std::get_if<frame_event::Binary>(&event)) {
        figures.count(binary->body.size());
        if (options.saveDir) {
            saveFrame(*options.saveDir, figures.frames, binary->body);
        }
        if (options.slowMs > 0) { // a phone that reads late, to show back-pressure
            std::this_thread::sleep_for(std::chrono::milliseconds(options.slowMs));
        }
    } else if (auto* sealed = std::get_if<frame_event::Message>(&event)) {
        if (auto* displays = std::get_if<msg::Displays>(&sealed->message)) {
            printDisplays(out, *displays);
        } else if (auto* error = std::get_if<msg::ScreenShareError>(&sealed->message)) {
            return error->value;
        }
    } else if (std::holds_alternative<frame_event::DecryptFailure>(event)) {
        return "a sealed record from the computer did not open";
    }
    return std::nullopt;
}

} // namespace

int Cli::watch()
{
    auto args =
        arguments({"--display", "--save", "--frames", "--seconds", "--slow"}, {"--preview"}, 0, 0);
    if (!args) {
        return reportError(args.error());
    }
    auto options = watchOptions(*args);
    if (!options) {
        return usage(options.error().message);
    }
    PhoneClient client;
    if (auto opened = openSession(client); !opened) {
        return fail(opened.error());
    }
    if (auto sent = client.send(msg::StartScreenShare{{options->preview}}); !sent) {
        return fail(sent.error());
    }
    if (options->display) {
        if (auto sent = client.send(msg::SelectDisplay{{*options->display}}); !sent) {
            return fail(sent.error());
        }
    }
    const auto begun = Clock::now();
    const auto end = options->durationMs ? begun + std::chrono::milliseconds(*options->durationMs)
                                         : Clock::time_point::max();
    WatchFigures figures;
    auto nextReport = begun + std::chrono::seconds(1);
    while (Clock::now() < end && (!options->frames || figures.frames < *options->frames)) {
        const auto until = std::min(end, nextReport);
        const auto waitMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        auto event = client.receiveEvent(std::max<int>(1, static_cast<int>(waitMs.count())));
        if (Clock::now() >= nextReport) {
            figures.reportSecond(m_out);
            nextReport += std::chrono::seconds(1);
        }
        if (!event) {
            if (isTimeout(event.error())) {
                continue;
            }
            return fail(event.error());
        }
        if (auto ended = takeFrame(*event, *options, figures, m_out)) {
            return fail(*ended);
        }
    }
    (void)client.send(msg::StopScreenShare{});
    const double seconds = std::chrono::duration<double>(Clock::now() - begun).count();
    m_out << figures.frames << " frames, " << figures.bytes << " bytes in " << seconds << " s"
          << std::endl;
    return exitOk;
}

} // namespace orvane::phone::detail
