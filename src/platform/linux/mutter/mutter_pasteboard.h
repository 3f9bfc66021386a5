#pragma once

#include "platform/pasteboard.h"

#include <functional>

namespace orvane {

class MutterClipboard;

// The desktop's clipboard through a GNOME remote-desktop session. The
// session is someone else's and may not be open: `clipboard` gives its
// clipboard when asked, opening the session if it must, or nothing.
class MutterPasteboard final : public Pasteboard {
public:
    explicit MutterPasteboard(std::function<MutterClipboard*()> clipboard);

    std::optional<QString> text() override;
    bool setText(const QString& text) override;

private:
    std::function<MutterClipboard*()> m_clipboard;
};

} // namespace orvane
