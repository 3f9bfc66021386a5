#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace orvane {

// What one server allows its peers. Budgets hold for the whole server, so a
// peer gains nothing by opening more connections or reconnecting.
struct ServerLimits {
    // Deadlines of a connection that has not authenticated.
    std::int64_t helloTimeoutMs = 10'000;
    std::int64_t reconnectTimeoutMs = 30'000;
    std::int64_t pairingTimeoutMs = 5 * 60'000;
    // Authenticated connections: one phone may hold a couple (an app and
    // its widget, say), and all of them together only so many.
    std::size_t connectionsPerDevice = 2;
    std::size_t authenticatedConnections = 32;
    // Bytes of incoming frames still arriving, over every connection.
    std::size_t frameBudgetBytes = 256u * 1024 * 1024;
    // Bytes waiting to be written, per connection, and how long a
    // connection may stay above that before it is closed.
    std::size_t outputBudgetBytes = 8u * 1024 * 1024;
    int overOutputBudgetCloseMs = 30'000;
    // Free space a received file must leave on its disk; by default the
    // smaller of 1 GiB and 5% of the disk.
    std::optional<std::int64_t> freeSpaceFloorBytes;
};

} // namespace orvane
