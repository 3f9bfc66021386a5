#include "discover.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>
#include <avahi-common/timeval.h>

#include <net/if.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>

namespace orvane::phone {
namespace {

struct Found {
    DiscoveredService service;
    bool ipv4 = false;
};

struct Discovery {
    AvahiSimplePoll* poll = nullptr;
    AvahiClient* client = nullptr;
    bool allForNow = false;
    int resolving = 0;
    std::string failure;
    // One entry per instance name: a service seen on several interfaces or
    // over both IP versions is still one service to the user.
    std::map<std::string, Found> found;

    void finishIfDone()
    {
        if (allForNow && resolving == 0)
            avahi_simple_poll_quit(poll);
    }
    void fail(std::string why)
    {
        if (failure.empty())
            failure = std::move(why);
        avahi_simple_poll_quit(poll);
    }
};

// The socket of the system bus, or empty for an address that is not a plain
// socket path (those we cannot probe).
std::string systemBusSocket()
{
    const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (!address)
        return "/run/dbus/system_bus_socket";
    const std::string text = address;
    const std::string prefix = "unix:path=";
    if (text.compare(0, prefix.size(), prefix) != 0)
        return {};
    return text.substr(prefix.size(), text.find(',') - prefix.size());
}

// avahi reports a missing system bus as a missing daemon; telling the two
// apart points the user at the right service.
bool systemBusReachable(const std::string& path)
{
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return true;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return true;
    const bool reachable =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return reachable;
}

std::string describeClientError(int error)
{
    switch (error) {
    case AVAHI_ERR_NO_DAEMON: {
        const std::string bus = systemBusSocket();
        if (!systemBusReachable(bus))
            return "cannot reach the D-Bus system bus at " + bus +
                   ", through which avahi-daemon is reached; is dbus running?";
        return "avahi-daemon is not running (start it, e.g. 'systemctl start avahi-daemon')";
    }
    case AVAHI_ERR_DBUS_ERROR:
        return "D-Bus error while talking to avahi-daemon";
    case AVAHI_ERR_DISCONNECTED:
        return "lost the connection to avahi-daemon";
    default:
        return std::string("avahi-daemon: ") + avahi_strerror(error);
    }
}

std::string numericAddress(const AvahiAddress& address, AvahiIfIndex interface)
{
    char text[AVAHI_ADDRESS_STR_MAX];
    avahi_address_snprint(text, sizeof text, &address);
    std::string result = text;
    // A link-local IPv6 address is useless without its interface.
    const bool linkLocal = address.proto == AVAHI_PROTO_INET6 &&
                           address.data.ipv6.address[0] == 0xfe &&
                           (address.data.ipv6.address[1] & 0xc0) == 0x80;
    char name[IF_NAMESIZE];
    if (linkLocal && interface >= 0 && if_indextoname(static_cast<unsigned>(interface), name))
        result += std::string("%") + name;
    return result;
}

void onResolved(AvahiServiceResolver* resolver, AvahiIfIndex interface, AvahiProtocol,
                AvahiResolverEvent event, const char* name, const char*, const char*,
                const char* hostName, const AvahiAddress* address, uint16_t port, AvahiStringList*,
                AvahiLookupResultFlags, void* userdata)
{
    auto* discovery = static_cast<Discovery*>(userdata);
    // A failed resolve (the service vanished or never answered) is skipped;
    // the others are still worth returning.
    if (event == AVAHI_RESOLVER_FOUND && name && address) {
        const bool ipv4 = address->proto == AVAHI_PROTO_INET;
        auto it = discovery->found.find(name);
        if (it == discovery->found.end() || (ipv4 && !it->second.ipv4)) {
            discovery->found[name] = {
                {name, hostName ? hostName : "", numericAddress(*address, interface), port}, ipv4};
        }
    }
    avahi_service_resolver_free(resolver);
    --discovery->resolving;
    discovery->finishIfDone();
}

void onBrowse(AvahiServiceBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol,
              AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
              AvahiLookupResultFlags, void* userdata)
{
    auto* discovery = static_cast<Discovery*>(userdata);
    switch (event) {
    case AVAHI_BROWSER_NEW:
        if (avahi_service_resolver_new(discovery->client, interface, protocol, name, type, domain,
                                       AVAHI_PROTO_UNSPEC, AvahiLookupFlags(0), &onResolved,
                                       discovery))
            ++discovery->resolving;
        break;
    case AVAHI_BROWSER_ALL_FOR_NOW:
        discovery->allForNow = true;
        discovery->finishIfDone();
        break;
    case AVAHI_BROWSER_FAILURE:
        discovery->fail(
            describeClientError(avahi_client_errno(avahi_service_browser_get_client(browser))));
        break;
    case AVAHI_BROWSER_REMOVE:
    case AVAHI_BROWSER_CACHE_EXHAUSTED:
        break;
    }
}

void onClientState(AvahiClient* client, AvahiClientState state, void* userdata)
{
    if (state == AVAHI_CLIENT_FAILURE)
        static_cast<Discovery*>(userdata)->fail(describeClientError(avahi_client_errno(client)));
}

void onDeadline(AvahiTimeout*, void* userdata)
{
    avahi_simple_poll_quit(static_cast<Discovery*>(userdata)->poll);
}

} // namespace

std::vector<DiscoveredService> discoverServices(const std::string& type, int timeoutMs,
                                                std::string* error)
{
    if (error)
        error->clear();
    Discovery discovery;
    discovery.poll = avahi_simple_poll_new();
    if (!discovery.poll) {
        if (error)
            *error = "cannot create an event loop for mDNS";
        return {};
    }
    const AvahiPoll* api = avahi_simple_poll_get(discovery.poll);

    int clientError = 0;
    discovery.client =
        avahi_client_new(api, AvahiClientFlags(0), &onClientState, &discovery, &clientError);
    if (!discovery.client) {
        avahi_simple_poll_free(discovery.poll);
        if (error)
            *error = describeClientError(clientError);
        return {};
    }

    AvahiServiceBrowser* browser = avahi_service_browser_new(
        discovery.client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, type.c_str(), nullptr,
        AvahiLookupFlags(0), &onBrowse, &discovery);
    if (!browser) {
        discovery.fail("cannot browse for " + type + ": " +
                       avahi_strerror(avahi_client_errno(discovery.client)));
    } else {
        timeval deadline;
        api->timeout_new(
            api, avahi_elapse_time(&deadline, static_cast<unsigned>(std::max(timeoutMs, 0)), 0),
            &onDeadline, &discovery);
        if (discovery.failure.empty())
            avahi_simple_poll_loop(discovery.poll);
    }

    // Freeing the client frees the browser and any resolver still running.
    avahi_client_free(discovery.client);
    avahi_simple_poll_free(discovery.poll);

    if (!discovery.failure.empty()) {
        if (error)
            *error = discovery.failure;
        return {};
    }
    std::vector<DiscoveredService> services;
    services.reserve(discovery.found.size());
    for (auto& [name, entry] : discovery.found)
        services.push_back(std::move(entry.service));
    return services;
}

} // namespace orvane::phone
