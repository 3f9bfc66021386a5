#pragma once

#include "platform/pasteboard.h"

#include <functional>

namespace orvane {

class MutterClipboard;

// The desktop's clipboard through a GNOME remote-desktop session. The
// session is someone else's and may not be open: `clipboard` gives its
// clipboard now, or nothing while it is not open; `whenOpen` opens it and
// gives the clipboard once it is (or nothing when it could not be opened).
class MutterPasteboard final : public Pasteboard {
public:
    using WhenOpen = std::function<void(std::function<void(MutterClipboard*)>)>;
    MutterPasteboard(std::function<MutterClipboard*()> clipboard, WhenOpen whenOpen = {});

    std::optional<QString> text() override;
    bool setText(const QString& text) override;
    void setTextLater(const QString& text, std::function<void(bool)> done) override;

private:
    std::function<MutterClipboard*()> m_clipboard;
    WhenOpen m_whenOpen;
};

} // namespace orvane
