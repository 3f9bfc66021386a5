#pragma once

#include "command.h"

// Records that describe the computer and its state. Each lists its members
// with their wire names in `fields`; optional members are left out of the
// JSON when absent.
namespace orvane {

struct MacInfo {
    std::string name;
    std::string modelName;
    std::string modelIdentifier;
    std::string chip;
    std::int64_t memoryBytes = 0;
    std::string systemVersion;
    std::optional<std::int64_t> batteryPercent;
    bool isCharging = false;
    bool isOnACPower = false;
    std::optional<std::int64_t> storageFreeBytes;
    std::optional<std::int64_t> storageTotalBytes;
    double uptime = 0; // seconds
    std::optional<Bytes> imagePNG;

    bool operator==(const MacInfo&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("name", s.name);
        v("modelName", s.modelName);
        v("modelIdentifier", s.modelIdentifier);
        v("chip", s.chip);
        v("memoryBytes", s.memoryBytes);
        v("systemVersion", s.systemVersion);
        v("batteryPercent", s.batteryPercent);
        v("isCharging", s.isCharging);
        v("isOnACPower", s.isOnACPower);
        v("storageFreeBytes", s.storageFreeBytes);
        v("storageTotalBytes", s.storageTotalBytes);
        v("uptime", s.uptime);
        v("imagePNG", s.imagePNG);
    }
};

struct AppUsage {
    std::int32_t pid = 0;
    std::string bundleID;
    std::string name;
    double cpu = 0;          // percent
    std::int64_t memory = 0; // bytes

    bool operator==(const AppUsage&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("pid", s.pid);
        v("bundleID", s.bundleID);
        v("name", s.name);
        v("cpu", s.cpu);
        v("memory", s.memory);
    }
};

struct MacStats {
    double cpu = 0; // percent
    std::int64_t memoryUsed = 0;
    std::int64_t memoryTotal = 0;
    std::vector<AppUsage> apps;

    bool operator==(const MacStats&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("cpu", s.cpu);
        v("memoryUsed", s.memoryUsed);
        v("memoryTotal", s.memoryTotal);
        v("apps", s.apps);
    }
};

struct MacApp {
    std::string bundleID;
    std::string name;

    bool operator==(const MacApp&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("bundleID", s.bundleID);
        v("name", s.name);
    }
};

struct AppCatalogPayload {
    std::vector<MacApp> apps;
    std::vector<std::string> dock;    // bundle identifiers
    std::vector<std::string> running; // bundle identifiers

    bool operator==(const AppCatalogPayload&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("apps", s.apps);
        v("dock", s.dock);
        v("running", s.running);
    }
};

struct MacWindow {
    std::uint32_t id = 0;
    std::string bundleID;
    std::string appName;
    std::string title;
    bool isFrontmost = false;

    bool operator==(const MacWindow&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("id", s.id);
        v("bundleID", s.bundleID);
        v("appName", s.appName);
        v("title", s.title);
        v("isFrontmost", s.isFrontmost);
    }
};

struct DisplayInfo {
    std::uint32_t id = 0;
    std::string name;
    bool isBuiltIn = false;
    bool isMain = false;
    std::int64_t width = 0;
    std::int64_t height = 0;

    bool operator==(const DisplayInfo&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("id", s.id);
        v("name", s.name);
        v("isBuiltIn", s.isBuiltIn);
        v("isMain", s.isMain);
        v("width", s.width);
        v("height", s.height);
    }
};

struct NowPlaying {
    using Player = MediaPlayer;

    Player player = Player::spotify;
    std::string title;
    std::string artist;
    std::string album;
    bool isPlaying = false;
    double position = 0; // seconds
    double duration = 0; // seconds
    std::int64_t volume = 0;
    std::optional<std::string> artworkURL; // absolute URL text

    bool operator==(const NowPlaying&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("player", s.player);
        v("title", s.title);
        v("artist", s.artist);
        v("album", s.album);
        v("isPlaying", s.isPlaying);
        v("position", s.position);
        v("duration", s.duration);
        v("volume", s.volume);
        v("artworkURL", s.artworkURL);
    }
};

struct SystemState {
    std::int64_t volume = 0;
    bool isMuted = false;
    bool isDarkMode = false;
    bool keepsAwake = false;

    bool operator==(const SystemState&) const = default;
    template <class S, class V> static void fields(S& s, V&& v)
    {
        v("volume", s.volume);
        v("isMuted", s.isMuted);
        v("isDarkMode", s.isDarkMode);
        v("keepsAwake", s.keepsAwake);
    }
};

} // namespace orvane
