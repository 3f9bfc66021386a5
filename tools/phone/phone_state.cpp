#include "phone_state.h"

#include "protocol/random.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace orvane::phone {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr int stateVersion = 1;

Error fileError(const std::string& what, const std::string& path)
{
    return Error{what + " " + path + ": " + std::strerror(errno), {}};
}

// Creates each missing level with mode 0700, as the XDG base directories ask.
Status makePrivateDirectories(const fs::path& directory)
{
    fs::path level;
    for (const auto& part : directory) {
        level /= part;
        if (::mkdir(level.c_str(), 0700) != 0 && errno != EEXIST) {
            return fileError("cannot create directory", level.string());
        }
    }
    return success();
}

json toJson(const PhoneState& state)
{
    json computers = json::object();
    for (const auto& [name, token] : state.tokens) {
        computers[name] = {{"token", token}};
    }
    return {{"version", stateVersion},
            {"deviceID", state.deviceID.toString()},
            {"deviceName", state.deviceName},
            {"computers", computers},
            {"lastComputer", state.lastComputer}};
}

// json::value() throws on a member of the wrong type; a hand-edited file
// must not be able to do that.
std::string stringMember(const json& object, const char* key, const std::string& fallback)
{
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : fallback;
}

Result<PhoneState> fromJson(const json& document)
{
    PhoneState state;
    const auto id = Uuid::parse(stringMember(document, "deviceID", ""));
    if (!id) {
        return failure("deviceID is missing or not a UUID");
    }
    state.deviceID = *id;
    state.deviceName = stringMember(document, "deviceName", defaultDeviceName());
    state.lastComputer = stringMember(document, "lastComputer", "");
    const auto computers = document.find("computers");
    if (computers == document.end() || !computers->is_object()) {
        return state;
    }
    for (const auto& [name, entry] : computers->items()) {
        const std::string token = entry.is_object() ? stringMember(entry, "token", "") : "";
        if (!token.empty()) {
            state.tokens[name] = token;
        }
    }
    return state;
}

Status writeAll(int fd, const std::string& text)
{
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return failure(std::strerror(errno));
        }
        written += static_cast<std::size_t>(n);
    }
    return success();
}

} // namespace

const std::string* PhoneState::tokenFor(const std::string& computer) const
{
    const auto found = tokens.find(computer);
    return found == tokens.end() ? nullptr : &found->second;
}

void PhoneState::renameComputer(const std::string& from, const std::string& to)
{
    auto found = tokens.find(from);
    if (found == tokens.end()) {
        return;
    }
    const std::string token = found->second;
    tokens.erase(found);
    tokens[to] = token;
    if (lastComputer == from) {
        lastComputer = to;
    }
}

std::string stateDirectory(const char* xdgStateHome, const char* home)
{
    if (xdgStateHome != nullptr && xdgStateHome[0] == '/') {
        return (fs::path(xdgStateHome) / "orvane-phone").string();
    }
    const std::string base = home != nullptr && home[0] != '\0' ? home : ".";
    return (fs::path(base) / ".local" / "state" / "orvane-phone").string();
}

std::string stateFilePath(const std::string& directory)
{
    return (fs::path(directory) / "state.json").string();
}

std::string defaultDeviceName()
{
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
        std::strcpy(host, "localhost");
    }
    return std::string("orvane-phone on ") + host;
}

Result<PhoneState> loadState(const std::string& directory)
{
    const std::string path = stateFilePath(directory);
    std::error_code ec;
    if (!fs::exists(path, ec) && !ec) {
        PhoneState fresh{makeUuid(systemRandom()), defaultDeviceName(), {}, {}};
        if (auto saved = saveState(directory, fresh); !saved) {
            return saved.error();
        }
        return fresh;
    }
    std::ifstream in(path);
    if (!in) {
        return failure("cannot read " + path);
    }
    std::stringstream text;
    text << in.rdbuf();
    const json document = json::parse(text.str(), nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        return failure(path + " is not valid JSON; fix or remove it (it may hold pairing tokens)");
    }
    auto state = fromJson(document);
    if (!state) {
        return failure(path + ": " + state.error().message);
    }
    return state;
}

Status saveState(const std::string& directory, const PhoneState& state)
{
    if (auto made = makePrivateDirectories(directory); !made) {
        return made;
    }
    const std::string path = stateFilePath(directory);
    std::string temp = path + ".XXXXXX";
    // mkstemp makes the file 0600 before a single token byte is written.
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return fileError("cannot create a file next to", path);
    }
    const std::string text = toJson(state).dump(2) + "\n";
    auto written = writeAll(fd, text);
    const bool synced = written && ::fsync(fd) == 0;
    ::close(fd);
    if (!written || !synced) {
        ::unlink(temp.c_str());
        return failure("cannot write " + temp);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const Error error = fileError("cannot replace", path);
        ::unlink(temp.c_str());
        return error;
    }
    return success();
}

} // namespace orvane::phone
