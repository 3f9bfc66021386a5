#pragma once

// Which room and which side a WebSocket asked for, read from the target of
// its upgrade request.
#include <QByteArrayView>

#include <optional>
#include <string>

namespace orvane::relay {

enum class Role { mac, phone };

struct RoomAddress {
    std::string room; // 64 lower-case hexadecimal characters
    Role role = Role::mac;
};

// The request target byte for byte as the client sent it, never the URL Qt
// makes of it: "/v1/room/<64 lower-case hex>?role=mac|phone" and nothing
// else: no other query item, no percent-encoded character, no fragment, no
// trailing slash.
std::optional<RoomAddress> parseRoomAddress(QByteArrayView target);

const char* roleName(Role role);

} // namespace orvane::relay
