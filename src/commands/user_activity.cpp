#include "user_activity.h"

namespace orvane {

UserActivity::UserActivity(Power& power, std::function<std::int64_t()> monotonicMs)
    : m_power(power), m_monotonicMs(std::move(monotonicMs))
{
}

void UserActivity::declare()
{
    std::int64_t now = m_monotonicMs();
    if (m_last && now - *m_last <= throttleMs)
        return;
    m_last = now;
    m_power.declareUserActivity();
}

} // namespace orvane
