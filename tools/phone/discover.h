#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvane::phone {

struct DiscoveredService {
    std::string name;    // the DNS-SD instance name, e.g. "Anna's Laptop"
    std::string host;    // the host's mDNS name, e.g. "anna-laptop.local"
    std::string address; // numeric; IPv6 link-local addresses carry "%interface"
    uint16_t port = 0;
};

// Browses the local network through avahi-daemon for services of `type`
// (e.g. "_orvane._tcp") and resolves each one, preferring an IPv4 address
// when a service answers on both. Returns once avahi has reported everything
// it currently knows and every resolve has finished, or after `timeoutMs`,
// with what was found by then, sorted by name. When discovery cannot run at
// all (no daemon, no system bus) it returns nothing and says why in *error;
// otherwise *error is cleared. `error` may be null.
std::vector<DiscoveredService> discoverServices(const std::string& type, int timeoutMs,
                                                std::string* error);

} // namespace orvane::phone
