#include "mac_info.h"

#include <QFile>

#include <cmath>

#include <sys/statvfs.h>

namespace orvane {

namespace {

const std::string fallbackModel = "Mac";
const std::string fallbackChip = "Apple silikon";

// Firmware often fills DMI fields with placeholders rather than leaving them
// empty; those say nothing about the machine.
bool meaningful(std::string_view value)
{
    static const std::string_view placeholders[] = {
        "", "To Be Filled By O.E.M.", "To be filled by O.E.M.", "System Product Name",
        "System Version", "Default string", "Not Specified", "None", "N/A", "0123456789",
        "System manufacturer", "Type1ProductConfigId",
    };
    for (auto p : placeholders) {
        if (value == p)
            return false;
    }
    return true;
}

std::string dmi(const SystemFiles& files, const char* name)
{
    auto text = files.read(std::string("sys/class/dmi/id/") + name, 256);
    std::string value = text ? std::string(trimmed(*text)) : std::string();
    return meaningful(value) ? value : std::string();
}

std::optional<std::int64_t> supplyValue(const SystemFiles& files, const std::string& supply,
                                        const char* name)
{
    auto text = files.read("sys/class/power_supply/" + supply + "/" + name, 64);
    return text ? parseInteger(*text) : std::nullopt;
}

std::string supplyText(const SystemFiles& files, const std::string& supply, const char* name)
{
    auto text = files.read("sys/class/power_supply/" + supply + "/" + name, 64);
    return text ? std::string(trimmed(*text)) : std::string();
}

std::optional<std::string> unquoted(std::optional<std::string_view> value)
{
    if (!value)
        return std::nullopt;
    std::string_view v = *value;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    if (v.empty())
        return std::nullopt;
    return std::string(v);
}

} // namespace

BatteryStatus batteryStatus(const SystemFiles& files)
{
    const auto supplies = files.list("sys/class/power_supply");
    bool mainsOnline = false;
    for (const auto& supply : supplies) {
        if (supplyText(files, supply, "type") == "Mains")
            mainsOnline = mainsOnline || supplyValue(files, supply, "online").value_or(0) == 1;
    }
    for (const auto& supply : supplies) {
        if (supplyText(files, supply, "type") != "Battery")
            continue;
        // Batteries report energy (µWh) or charge (µAh); either gives the share.
        auto now = supplyValue(files, supply, "energy_now");
        auto full = supplyValue(files, supply, "energy_full");
        if (!now || !full) {
            now = supplyValue(files, supply, "charge_now");
            full = supplyValue(files, supply, "charge_full");
        }
        if (!now || !full || *full <= 0 || *now < 0 || *now > INT64_MAX / 100)
            continue;
        BatteryStatus status;
        status.percent = *now * 100 / *full;
        status.isCharging = supplyText(files, supply, "status") == "Charging";
        status.isOnACPower = mainsOnline;
        return status;
    }
    return {};
}

ModelDescription modelDescription(const SystemFiles& files)
{
    std::string product = dmi(files, "product_name");
    std::string version = dmi(files, "product_version");
    std::string vendor = dmi(files, "sys_vendor");
    std::string family = dmi(files, "product_family");
    ModelDescription model;
    model.identifier = product.empty() ? fallbackModel : product;
    // Some vendors keep the marketing name in the version field (Lenovo's
    // "ThinkPad X1 Carbon Gen 9"), others in the family or the product name.
    std::string marketing = !version.empty() && version.find(' ') != std::string::npos ? version
                            : !family.empty()                                          ? family
                                                                                      : product;
    if (marketing.empty())
        model.name = model.identifier;
    else if (!vendor.empty() && marketing.rfind(vendor, 0) != 0)
        model.name = vendor + " " + marketing;
    else
        model.name = marketing;
    return model;
}

std::string chipName(const SystemFiles& files)
{
    auto cpuinfo = files.read("proc/cpuinfo", 64 * 1024);
    if (cpuinfo) {
        for (const char* key : {"model name", "Model", "Hardware", "cpu model"}) {
            auto value = fieldValue(*cpuinfo, key, ':');
            if (value && !value->empty())
                return std::string(*value);
        }
    }
    return fallbackChip;
}

std::string systemVersion(const SystemFiles& files)
{
    for (const char* path : {"etc/os-release", "usr/lib/os-release"}) {
        auto text = files.read(path, 64 * 1024);
        if (!text)
            continue;
        if (auto pretty = unquoted(fieldValue(*text, "PRETTY_NAME", '=')))
            return *pretty;
        if (auto name = unquoted(fieldValue(*text, "NAME", '=')))
            return *name;
    }
    return "Linux";
}

std::int64_t memoryBytes(const SystemFiles& files)
{
    auto meminfo = files.read("proc/meminfo", 64 * 1024);
    auto kb = meminfo ? fieldValue(*meminfo, "MemTotal", ':') : std::nullopt;
    auto value = kb ? parseInteger(*kb) : std::nullopt;
    return value && *value > 0 && *value < INT64_MAX / 1024 ? *value * 1024 : 0;
}

double uptimeSeconds(const SystemFiles& files)
{
    auto text = files.read("proc/uptime", 256);
    if (!text)
        return 0;
    try {
        std::size_t used = 0;
        double value = std::stod(std::string(trimmed(*text)), &used);
        return used > 0 && std::isfinite(value) && value >= 0 ? value : 0;
    } catch (...) {
        return 0;
    }
}

StorageCapacity storageCapacity(const std::string& path)
{
    struct statvfs fs {};
    if (::statvfs(path.c_str(), &fs) != 0)
        return {};
    auto bytes = [&](unsigned long long blocks) -> std::optional<std::int64_t> {
        unsigned long long unit = fs.f_frsize ? fs.f_frsize : fs.f_bsize;
        if (unit == 0 || blocks > static_cast<unsigned long long>(INT64_MAX) / unit)
            return std::nullopt;
        return static_cast<std::int64_t>(blocks * unit);
    };
    return {bytes(fs.f_bavail), bytes(fs.f_blocks)};
}

Bytes fallbackComputerPicture()
{
    QFile file(QStringLiteral(":/orvane/computer.png"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray data = file.readAll();
    return Bytes(data.begin(), data.end());
}

MacInfoProvider::MacInfoProvider(SystemFiles files, PictureRenderer renderPicture,
                                 std::string storagePath)
    : m_files(std::move(files)), m_renderPicture(std::move(renderPicture)),
      m_storagePath(std::move(storagePath))
{
}

const Bytes& MacInfoProvider::productImagePNG()
{
    if (!m_picture) {
        bool laptop = batteryStatus(m_files).percent.has_value();
        std::optional<Bytes> rendered = m_renderPicture ? m_renderPicture(laptop) : std::nullopt;
        m_picture = rendered && !rendered->empty() ? std::move(*rendered) : fallbackComputerPicture();
    }
    return *m_picture;
}

MacInfo MacInfoProvider::macInfo(const QString& name, bool includeImage)
{
    // What the machine is does not change while we run, and the kernel
    // composes /proc/cpuinfo afresh, at some cost, on every read: it is read
    // once. Battery, storage and uptime are read on every call.
    if (!m_fixed) {
        ModelDescription model = modelDescription(m_files);
        m_fixed = MacInfo{};
        m_fixed->modelIdentifier = model.identifier;
        m_fixed->modelName = model.name;
        m_fixed->chip = chipName(m_files);
        m_fixed->memoryBytes = memoryBytes(m_files);
        m_fixed->systemVersion = systemVersion(m_files);
    }
    const auto now = std::chrono::steady_clock::now();
    if (!m_reading || now - m_reading->at > std::chrono::seconds(1))
        m_reading = Reading{batteryStatus(m_files), storageCapacity(m_storagePath),
                            uptimeSeconds(m_files), now};
    MacInfo info = *m_fixed;
    info.name = name.toStdString();
    info.batteryPercent = m_reading->battery.percent;
    info.isCharging = m_reading->battery.isCharging;
    info.isOnACPower = m_reading->battery.isOnACPower;
    info.storageFreeBytes = m_reading->storage.freeBytes;
    info.storageTotalBytes = m_reading->storage.totalBytes;
    if (m_reading->uptime > 0) // an unreadable uptime stays at its fallback
        info.uptime = m_reading->uptime + std::chrono::duration<double>(now - m_reading->at).count();
    if (includeImage)
        info.imagePNG = productImagePNG();
    return info;
}

} // namespace orvane
