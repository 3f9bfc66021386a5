#include "mac_info_provider.h"

#include <QFile>

namespace orvane {

namespace {

// What the phone shows when the machine does not say.
const std::string fallbackModel = "Mac";
const std::string fallbackChip = "Apple silikon";

} // namespace

Bytes fallbackComputerPicture()
{
    QFile file(QStringLiteral(":/orvane/computer.png"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray data = file.readAll();
    return Bytes(data.begin(), data.end());
}

MacInfoProvider::MacInfoProvider(Machine& machine, PictureRenderer renderPicture)
    : m_machine(machine), m_renderPicture(std::move(renderPicture))
{
}

const Bytes& MacInfoProvider::productImagePNG()
{
    if (!m_picture) {
        bool laptop = m_machine.battery().percent.has_value();
        std::optional<Bytes> rendered = m_renderPicture ? m_renderPicture(laptop) : std::nullopt;
        m_picture =
            rendered && !rendered->empty() ? std::move(*rendered) : fallbackComputerPicture();
    }
    return *m_picture;
}

MacInfo MacInfoProvider::macInfo(const QString& name, bool includeImage)
{
    // What the machine is does not change while we run, and reading it can
    // cost (the kernel composes its processor description afresh on every
    // read): it is read once. Battery, storage and uptime are read on every
    // call.
    if (!m_fixed) {
        ModelDescription model = m_machine.model();
        m_fixed = MacInfo{};
        m_fixed->modelIdentifier = model.identifier.empty() ? fallbackModel : model.identifier;
        m_fixed->modelName = model.name.empty() ? m_fixed->modelIdentifier : model.name;
        m_fixed->chip = m_machine.processorName().value_or(fallbackChip);
        m_fixed->memoryBytes = m_machine.installedMemoryBytes().value_or(0);
        m_fixed->systemVersion = m_machine.systemVersion();
    }
    const auto now = std::chrono::steady_clock::now();
    if (!m_reading || now - m_reading->at > std::chrono::seconds(1))
        m_reading =
            Reading{m_machine.battery(), m_machine.storage(), m_machine.uptimeSeconds(), now};
    MacInfo info = *m_fixed;
    info.name = name.toStdString();
    info.batteryPercent = m_reading->battery.percent;
    info.isCharging = m_reading->battery.isCharging;
    info.isOnACPower = m_reading->battery.isOnACPower;
    info.storageFreeBytes = m_reading->storage.freeBytes;
    info.storageTotalBytes = m_reading->storage.totalBytes;
    // An unreadable uptime stays at its fallback.
    if (m_reading->uptime && *m_reading->uptime > 0)
        info.uptime =
            *m_reading->uptime + std::chrono::duration<double>(now - m_reading->at).count();
    if (includeImage)
        info.imagePNG = productImagePNG();
    return info;
}

} // namespace orvane
