#include "room_address.h"

#include <algorithm>

namespace orvane::relay {

namespace {

constexpr std::string_view roomPrefix = "/v1/room/";
constexpr std::size_t roomLength = 64;

bool isLowerHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

} // namespace

std::optional<RoomAddress> parseRoomAddress(const QUrl& url)
{
    // A URL that Qt itself calls invalid (a Host header of control bytes,
    // say) still has a path; it is not the one form this takes.
    if (!url.isValid())
        return std::nullopt;
    // Fully encoded, so that "%61" never passes for the "a" it stands for:
    // the room is compared byte for byte by whoever routes on the path.
    const std::string path = url.path(QUrl::FullyEncoded).toStdString();
    const std::string query = url.query(QUrl::FullyEncoded).toStdString();
    if (path.size() != roomPrefix.size() + roomLength || !path.starts_with(roomPrefix))
        return std::nullopt;
    std::string room = path.substr(roomPrefix.size());
    if (!std::all_of(room.begin(), room.end(), isLowerHex))
        return std::nullopt;
    if (query == "role=mac")
        return RoomAddress{std::move(room), Role::mac};
    if (query == "role=phone")
        return RoomAddress{std::move(room), Role::phone};
    return std::nullopt;
}

const char* roleName(Role role)
{
    return role == Role::mac ? "mac" : "phone";
}

} // namespace orvane::relay
