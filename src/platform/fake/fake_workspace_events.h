#pragma once

#include "platform/workspace_events.h"

#include <cstdint>
#include <optional>

namespace orvane {

class FakeWorkspaceEvents final : public WorkspaceEvents {
public:
    std::optional<std::int32_t> pid;
    std::optional<std::int32_t> frontmostPid() override { return pid; }
};

} // namespace orvane
