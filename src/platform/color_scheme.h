#pragma once

#include <functional>
#include <optional>

namespace orvane {

// The desktop's light or dark preference, as it is and as it changes.
class ColorSchemeSource {
public:
    virtual ~ColorSchemeSource() = default;

    // true: dark, false: light; nothing when the desktop states none or
    // cannot be asked.
    virtual std::optional<bool> prefersDark() const = 0;

    // The preference changed; called on the main thread.
    std::function<void()> onChanged;
};

} // namespace orvane
