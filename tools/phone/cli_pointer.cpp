// orvane-phone pointer: watches the screen, as a phone does while it drives
// the pointer, sends the pointer events, waits for the computer to report
// the cursor where they put it, and stops watching.
#include "cli_runner.h"
#include "pointer_command.h"

#include <cmath>
#include <functional>
#include <ostream>
#include <sstream>

namespace orvane::phone::detail {
namespace {

// After a relative move or a scroll the cursor's end is not known in
// advance; it is taken as settled after several of the computer's cursor
// reports (one every 33 ms while it moves).
constexpr int settleMs = 300;
// Near enough to a target: the computer reports the cursor in fractions of
// the display, and puts 1 on the last pixel.
constexpr double targetSlack = 0.005;

// What the computer tells a phone that watches.
struct Watched {
    std::optional<msg::Displays> displays;
    int displayMessages = 0;
    std::optional<msg::Cursor> cursor;
};

// Reads until `done` holds. Frames are skipped; a screen-sharing error, a
// broken connection or the deadline end the wait with their error.
Status readUntil(PhoneClient& client, Watched& seen, Clock::time_point deadline,
                 const std::function<bool()>& done)
{
    while (!done()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        auto received = client.receive(static_cast<int>(std::max<long long>(0, left.count())));
        if (!received) {
            return received.error();
        }
        if (auto* displays = std::get_if<msg::Displays>(&received->message)) {
            seen.displays = *displays;
            ++seen.displayMessages;
        } else if (auto* cursor = std::get_if<msg::Cursor>(&received->message)) {
            seen.cursor = *cursor;
        } else if (auto* error = std::get_if<msg::ScreenShareError>(&received->message)) {
            return failure(error->value);
        }
    }
    return success();
}

std::string displayList(const msg::Displays& displays)
{
    std::ostringstream list;
    for (const DisplayInfo& display : displays.displays) {
        list << (list.tellp() > 0 ? ", " : "") << display.id << " \"" << display.name << "\"";
    }
    return list.str();
}

// Starts a full-size share and waits for the displays it is on: once, or a
// second time after selecting `display`.
Status startWatching(PhoneClient& client, std::optional<std::uint32_t> display, Watched& seen,
                     int timeoutMs)
{
    if (auto sent = client.send(msg::StartScreenShare{{false}}); !sent) {
        return sent;
    }
    if (display) {
        if (auto sent = client.send(msg::SelectDisplay{{*display}}); !sent) {
            return sent;
        }
    }
    const int wanted = display ? 2 : 1;
    auto read = readUntil(client, seen, deadlineAfter(timeoutMs),
                          [&] { return seen.displayMessages >= wanted; });
    if (!read && isTimeout(read.error())) {
        return Error{"the screen share did not start: " + read.error().message, read.error().where};
    }
    if (!read) {
        return read;
    }
    if (display && seen.displays->selectedID != *display) {
        return failure("there is no display " + std::to_string(*display) +
                       " (displays: " + displayList(*seen.displays) + ")");
    }
    return success();
}

std::string position(double x, double y)
{
    std::ostringstream text;
    text << x << " " << y;
    return text.str();
}

// Waits for the cursor to be reported at the target, or to settle when the
// events name none.
Status awaitCursor(PhoneClient& client, Watched& seen,
                   const std::optional<std::pair<double, double>>& target, int timeoutMs)
{
    if (!target) {
        auto read = readUntil(client, seen, deadlineAfter(settleMs), [] { return false; });
        return read || isTimeout(read.error()) ? success() : read;
    }
    // Named copies: a lambda may not capture structured bindings here.
    const double x = target->first, y = target->second;
    auto read = readUntil(client, seen, deadlineAfter(timeoutMs), [&] {
        return seen.cursor && std::abs(seen.cursor->x - x) <= targetSlack &&
               std::abs(seen.cursor->y - y) <= targetSlack;
    });
    if (!read && isTimeout(read.error())) {
        const std::string last =
            seen.cursor ? "it is at " + position(seen.cursor->x, seen.cursor->y) : "not reported";
        return Error{"the cursor did not reach " + position(x, y) + " (" + last +
                         "); the computer may not accept injected input",
                     read.error().where};
    }
    return read;
}

} // namespace

int Cli::pointer()
{
    auto request = parsePointerCommand(m_inv);
    if (!request) {
        return reportError(request.error());
    }
    PhoneClient client;
    if (auto opened = openSession(client); !opened) {
        return fail(opened.error());
    }
    Watched seen;
    if (auto started = startWatching(client, request->display, seen, timeoutMs()); !started) {
        return fail(started.error());
    }
    for (const PointerEvent& event : request->events) {
        if (auto sent = client.send(msg::Pointer{{event}}); !sent) {
            return fail(sent.error());
        }
    }
    auto settled = awaitCursor(client, seen, request->target, timeoutMs());
    (void)client.send(msg::StopScreenShare{});
    if (!settled) {
        return fail(settled.error());
    }
    for (const DisplayInfo& display : seen.displays->displays) {
        if (display.id == seen.displays->selectedID) {
            m_out << "display " << display.id << " \"" << display.name << "\" " << display.width
                  << "x" << display.height << std::endl;
        }
    }
    if (seen.cursor) {
        m_out << "cursor at " << position(seen.cursor->x, seen.cursor->y) << std::endl;
    }
    return exitOk;
}

} // namespace orvane::phone::detail
