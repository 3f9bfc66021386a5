#include "user_defaults.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane {

namespace {
const QString trustedDevicesKey = QStringLiteral("trustedDevices");
const QString keepAwakeKey = QStringLiteral("keepMacAwake");
const QString remoteAccessKey = QStringLiteral("remoteAccess");
} // namespace

UserDefaults::UserDefaults(QString path) : m_path(path.isEmpty() ? standardPath() : std::move(path))
{
}

QString UserDefaults::standardPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Orvane/Orvane.conf");
}

// Creates the folder (0700) and the file (0600) before QSettings ever writes,
// whatever the umask: QSettings keeps the mode of a file that exists.
bool UserDefaults::ensurePrivateFile() const
{
    QString folder = QFileInfo(m_path).absolutePath();
    QDir().mkpath(QFileInfo(folder).absolutePath()); // its parents, e.g. ~/.config
    QByteArray dir = QFile::encodeName(folder);
    if (::mkdir(dir.constData(), 0700) == 0)
        ::chmod(dir.constData(), 0700); // exactly 0700, whatever the umask took away
    else if (errno != EEXIST)
        return false;
    QByteArray file = QFile::encodeName(m_path);
    int fd = ::open(file.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, 0600) == 0;
    ::close(fd);
    return ok;
}

std::vector<TrustedDevice> UserDefaults::loadTrustedDevices() const
{
    QSettings settings(m_path, QSettings::IniFormat);
    QVariant value = settings.value(trustedDevicesKey);
    if (!value.isValid())
        return {};
    QByteArray data = value.toByteArray();
    auto devices = decodeTrustedDevices(std::string_view(data.constData(), data.size()));
    return devices ? std::move(*devices) : std::vector<TrustedDevice>{};
}

bool UserDefaults::saveTrustedDevices(const std::vector<TrustedDevice>& devices)
{
    auto json = encodeTrustedDevices(devices);
    if (!json)
        return false; // the previous value stays
    return write(trustedDevicesKey, QByteArray::fromStdString(*json));
}

bool UserDefaults::keepMacAwake() const
{
    QSettings settings(m_path, QSettings::IniFormat);
    return settings.value(keepAwakeKey).toString() == QLatin1String("true");
}

bool UserDefaults::remoteAccess() const
{
    QSettings settings(m_path, QSettings::IniFormat);
    QString text = settings.value(remoteAccessKey).toString();
    return text != QLatin1String("false");
}

bool UserDefaults::setBool(const QString& key, bool value)
{
    return write(key, value);
}

void UserDefaults::applyLimits(ServerLimits& limits) const
{
    QSettings settings(m_path, QSettings::IniFormat);
    auto read = [&](const char* key) -> std::optional<qint64> {
        bool ok = false;
        qint64 value = settings.value(QStringLiteral("limits/") + QLatin1String(key)).toLongLong(&ok);
        return ok && value >= 0 ? std::optional(value) : std::nullopt;
    };
    if (auto floor = read("freeSpaceFloorBytes"))
        limits.freeSpaceFloorBytes = *floor;
    if (auto count = read("authenticatedConnections"); count && *count > 0)
        limits.authenticatedConnections = static_cast<std::size_t>(*count);
    if (auto count = read("connectionsPerDevice"); count && *count > 0)
        limits.connectionsPerDevice = static_cast<std::size_t>(*count);
}

bool UserDefaults::write(const QString& key, const QVariant& value)
{
    if (!ensurePrivateFile())
        return false;
    QSettings settings(m_path, QSettings::IniFormat);
    settings.setValue(key, value);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace orvane
