#include "mutter_pasteboard.h"

#include "mutter_clipboard.h"

namespace orvane {

namespace {

// The phone's command waits for the answer; a healthy desktop gives it in
// milliseconds, and a hung one must not hold the command longer.
constexpr int answerTimeoutMs = 1000;

} // namespace

MutterPasteboard::MutterPasteboard(std::function<MutterClipboard*()> clipboard, WhenOpen whenOpen)
    : m_clipboard(std::move(clipboard)), m_whenOpen(std::move(whenOpen))
{
}

void MutterPasteboard::setTextLater(const QString& text, std::function<void(bool)> done)
{
    if (!m_whenOpen)
        return done(setText(text));
    m_whenOpen([text, done = std::move(done)](MutterClipboard* clipboard) {
        if (!clipboard)
            return done(false);
        clipboard->offer(text, done);
    });
}

std::optional<QString> MutterPasteboard::text()
{
    MutterClipboard* clipboard = m_clipboard ? m_clipboard() : nullptr;
    if (!clipboard)
        return std::nullopt;
    return clipboard->read(answerTimeoutMs);
}

bool MutterPasteboard::setText(const QString& text)
{
    MutterClipboard* clipboard = m_clipboard ? m_clipboard() : nullptr;
    return clipboard && clipboard->offerNow(text, answerTimeoutMs);
}

} // namespace orvane
