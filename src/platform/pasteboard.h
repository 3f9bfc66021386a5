#pragma once

#include <QString>

#include <optional>

namespace orvane {

// The desktop's clipboard, for plain text.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;
    // The clipboard's text, or nothing when it holds no text.
    virtual std::optional<QString> text() = 0;
    // Replaces everything on the clipboard with this text.
    virtual void setText(const QString& text) = 0;
};

} // namespace orvane
