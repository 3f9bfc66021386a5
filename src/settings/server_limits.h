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
    // Bytes of incoming frames still arriving, over every connection, and
    // for the connections of one phone.
    std::size_t frameBudgetBytes = 256u * 1024 * 1024;
    std::size_t frameBudgetPerPhoneBytes = 64u * 1024 * 1024;
    // A frame still arriving after the grace must have kept up this pace
    // since; slow enough for a phone on a weak mobile link.
    std::int64_t frameGraceMs = 30'000;
    std::size_t frameBytesPerSecond = 16 * 1024;
    // New pairings: in all and from one address a minute, and the least
    // time between two, so codes never change faster than a person reads.
    int pairingStartsPerMinute = 10;
    int pairingStartsPerAddressPerMinute = 3;
    std::int64_t pairingStartSpacingMs = 5000;
    // Bytes waiting to be written, per connection, and how long a
    // connection may stay above that before it is closed.
    std::size_t outputBudgetBytes = 8u * 1024 * 1024;
    int overOutputBudgetCloseMs = 30'000;
    // Free space a received file must leave on its disk; by default the
    // smaller of 1 GiB and 5% of the disk.
    std::optional<std::int64_t> freeSpaceFloorBytes;
};

} // namespace orvane
