#pragma once

#include "platform/service_advertiser.h"

#include <memory>

namespace orvane {

// Through avahi-daemon, registering again whenever the daemon restarts.
std::unique_ptr<ServiceAdvertiser> makeAvahiAdvertiser();

} // namespace orvane
