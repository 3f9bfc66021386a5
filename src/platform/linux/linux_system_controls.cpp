#include "linux_system_controls.h"

#include "platform/linux/x11/x11_connection.h"
#include "platform/linux/x11/x11_idle_controls.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <limits>

namespace orvane {

namespace {

std::optional<std::int64_t> readNumber(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    bool ok = false;
    const qlonglong value = file.read(64).trimmed().toLongLong(&ok);
    if (!ok || value < 0)
        return std::nullopt;
    return value;
}

} // namespace

LinuxSystemControls::LinuxSystemControls(std::shared_ptr<X11Connection> x11, QString backlightRoot,
                                         std::unique_ptr<X11IdleControls> idle)
    : m_x11(std::move(x11)), m_backlightRoot(std::move(backlightRoot)),
      m_idle(m_logind, idle ? std::move(idle) : makeX11IdleControls(m_x11))
{
}

QString LinuxSystemControls::backlightDevice() const
{
    const QStringList devices =
        QDir(m_backlightRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    return devices.isEmpty() ? QString() : devices.first();
}

std::optional<BacklightLevel> LinuxSystemControls::backlight()
{
    const QString device = backlightDevice();
    if (device.isEmpty())
        return std::nullopt;
    const QString folder = m_backlightRoot + QLatin1Char('/') + device + QLatin1Char('/');
    auto value = readNumber(folder + QStringLiteral("brightness"));
    auto max = readNumber(folder + QStringLiteral("max_brightness"));
    if (!value || !max)
        return std::nullopt;
    return BacklightLevel{*value, *max};
}

// Through logind rather than writing sysfs: the brightness file belongs to
// root, and logind lets the user of the active session change it.
bool LinuxSystemControls::setBacklight(std::int64_t value)
{
    const QString device = backlightDevice();
    if (device.isEmpty())
        return false;
    const auto clamped =
        std::clamp<std::int64_t>(value, 0, std::numeric_limits<std::uint32_t>::max());
    return m_logind.setBrightness(device, static_cast<std::uint32_t>(clamped));
}

bool LinuxSystemControls::turnDisplayOff()
{
    return m_x11 && turnX11DisplayOff(*m_x11);
}

} // namespace orvane
