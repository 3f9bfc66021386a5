#pragma once

#include "platform/pasteboard.h"

#include <QString>

#include <optional>

namespace orvane {

class FakePasteboard final : public Pasteboard {
public:
    std::optional<QString> contents;
    bool reachable = true; // false: as with no display
    std::optional<QString> text() override { return reachable ? contents : std::nullopt; }
    bool setText(const QString& text) override
    {
        if (reachable)
            contents = text;
        return reachable;
    }
};

} // namespace orvane
