// orvane-phone pointer: the words of a pointer command turned into the
// pointer events a phone sends while it watches the screen.
#include "pointer_command.h"

#include <functional>
#include <limits>
#include <map>

namespace orvane::phone {
namespace {

using Action = std::function<Result<PointerRequest>(const Arguments&)>;

// The computer counts no further than a triple click.
constexpr std::int64_t mostClicks = 3;

// The `count` numbers after the action word; positions must lie on the
// display, from 0 to 1.
Result<std::vector<double>> numbers(const Arguments& args, std::size_t count, bool positions,
                                    const std::string& expected)
{
    const std::string& action = args.positional[0];
    if (args.positional.size() != count + 1) {
        return usageError("pointer " + action + " expects " + expected);
    }
    std::vector<double> values;
    for (std::size_t i = 1; i <= count; ++i) {
        const std::string& word = args.positional[i];
        const auto value = parseDecimal(word);
        if (!value) {
            return usageError("pointer " + action + ": \"" + word + "\" is not a number");
        }
        if (positions && (*value < 0 || *value > 1)) {
            return usageError("pointer " + action +
                              ": positions run from 0 to 1 across the display, not " + word);
        }
        values.push_back(*value);
    }
    return values;
}

Result<PointerRequest> click(const Arguments& args)
{
    auto at = numbers(args, 2, true, "X Y, each from 0 to 1 across the display");
    if (!at) {
        return at.error();
    }
    std::int64_t count = 1;
    if (const std::string* text = args.value("--count")) {
        const auto parsed = parseInteger(*text);
        if (!parsed || *parsed < 1 || *parsed > mostClicks) {
            return usageError("--count needs 1, 2 or 3 (a single, double or triple click), not \"" +
                              *text + "\"");
        }
        count = *parsed;
    }
    const double x = (*at)[0], y = (*at)[1];
    return PointerRequest{{pointer::Click{x, y, args.has("--right"), count}}, {}, std::pair(x, y)};
}

Result<PointerRequest> drag(const Arguments& args)
{
    auto at = numbers(args, 4, true, "X1 Y1 X2 Y2, each from 0 to 1 across the display");
    if (!at) {
        return at.error();
    }
    const double x1 = (*at)[0], y1 = (*at)[1], x2 = (*at)[2], y2 = (*at)[3];
    PointerRequest request{{pointer::DragBegan{{x1, y1}}}, {}, std::pair(x2, y2)};
    for (int i = 1; i <= dragMoves; ++i) {
        const double t = static_cast<double>(i) / (dragMoves + 1);
        request.events.push_back(pointer::DragChanged{{x1 + (x2 - x1) * t, y1 + (y2 - y1) * t}});
    }
    request.events.push_back(pointer::DragEnded{{x2, y2}});
    return request;
}

// `move` and `scroll`: a distance in pixels.
template <class Event> Result<PointerRequest> byPixels(const Arguments& args)
{
    auto by = numbers(args, 2, false, "DX DY in pixels");
    if (!by) {
        return by.error();
    }
    return PointerRequest{{Event{{(*by)[0], (*by)[1]}}}, {}, {}};
}

} // namespace

Result<PointerRequest> parsePointerCommand(const Invocation& invocation)
{
    static const std::map<std::string, Action> actions = {
        {"click", click},
        {"drag", drag},
        {"move", byPixels<pointer::MoveBy>},
        {"scroll", byPixels<pointer::Scroll>},
    };
    auto args = splitArguments(invocation, {"--count", "--display"}, {"--right"});
    if (!args) {
        return args.error();
    }
    const auto found = args->positional.empty() ? actions.end() : actions.find(args->positional[0]);
    if (found == actions.end()) {
        return usageError("pointer expects an action: click X Y, move DX DY, drag X1 Y1 X2 Y2 "
                          "or scroll DX DY");
    }
    if (found->first != "click" && (args->has("--right") || args->value("--count"))) {
        return usageError("--right and --count are for pointer click only");
    }
    auto request = found->second(*args);
    if (const std::string* text = args->value("--display"); request && text) {
        const auto id = parseInteger(*text);
        if (!id || *id < 0 || *id > std::numeric_limits<std::uint32_t>::max()) {
            return usageError("--display needs a display id, a whole number from 0, not \"" +
                              *text + "\"");
        }
        request->display = static_cast<std::uint32_t>(*id);
    }
    return request;
}

} // namespace orvane::phone
