#pragma once

// Which room and which side a WebSocket asked for, read from the address of
// its upgrade request.
#include <QUrl>

#include <optional>
#include <string>

namespace orvane::relay {

enum class Role { mac, phone };

struct RoomAddress {
    std::string room; // 64 lower-case hexadecimal characters
    Role role = Role::mac;
};

// "/v1/room/<64 lower-case hex>?role=mac|phone" and nothing else: no other
// query item, no encoded character, no trailing slash.
std::optional<RoomAddress> parseRoomAddress(const QUrl& url);

const char* roleName(Role role);

} // namespace orvane::relay
