#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace orvane {

// The desktop's clipboard, for plain text.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;
    // The clipboard's text, or nothing when it holds no text or no desktop
    // clipboard can be reached.
    virtual std::optional<QString> text() = 0;
    // Replaces everything on the clipboard with this text; false when no
    // desktop clipboard can be reached or it would not take the text.
    virtual bool setText(const QString& text) = 0;
    // The same, answered later: a desktop whose clipboard is reached through
    // a session that must first be opened says once it has the text.
    virtual void setTextLater(const QString& text, std::function<void(bool took)> done)
    {
        done(setText(text));
    }
};

} // namespace orvane
