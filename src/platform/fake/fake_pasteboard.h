#pragma once

#include "platform/pasteboard.h"

#include <QString>

#include <optional>

namespace orvane {

class FakePasteboard final : public Pasteboard {
public:
    std::optional<QString> contents;
    std::optional<QString> text() override { return contents; }
    void setText(const QString& text) override { contents = text; }
};

} // namespace orvane
