#pragma once

#include "platform/power.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace orvane {

// Tells the desktop that someone is using it before remote input, so a
// sleeping display wakes. A drag streams many events a second, so the
// platform is told at most once every three seconds.
class UserActivity {
public:
    UserActivity(Power& power, std::function<std::int64_t()> monotonicMs);
    void declare();

    static constexpr std::int64_t throttleMs = 3000;

private:
    Power& m_power;
    std::function<std::int64_t()> m_monotonicMs;
    std::optional<std::int64_t> m_last;
};

} // namespace orvane
