#include "room_address.h"

#include <algorithm>
#include <string_view>

namespace orvane::relay {

namespace {

constexpr std::string_view roomPrefix = "/v1/room/";
constexpr std::size_t roomLength = 64;

bool isLowerHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

} // namespace

std::optional<RoomAddress> parseRoomAddress(QByteArrayView target)
{
    // The bytes as they came, so that "%61" never passes for the "a" it
    // stands for (QUrl decodes it) and nothing follows the role: the room is
    // compared byte for byte by whoever routes on the path.
    const std::string_view text(target.data(), static_cast<std::size_t>(target.size()));
    if (text.size() < roomPrefix.size() + roomLength || !text.starts_with(roomPrefix))
        return std::nullopt;
    std::string room(text.substr(roomPrefix.size(), roomLength));
    if (!std::all_of(room.begin(), room.end(), isLowerHex))
        return std::nullopt;
    const std::string_view query = text.substr(roomPrefix.size() + roomLength);
    if (query == "?role=mac")
        return RoomAddress{std::move(room), Role::mac};
    if (query == "?role=phone")
        return RoomAddress{std::move(room), Role::phone};
    return std::nullopt;
}

const char* roleName(Role role)
{
    return role == Role::mac ? "mac" : "phone";
}

} // namespace orvane::relay
