#include "settings.h"

#include <QSettings>

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
const QString notificationsKey = QStringLiteral("notifications");
const QString relayUrlKey = QStringLiteral("relayURL");
} // namespace

Settings::Settings(QString path, QObject* parent)
    : QObject(parent), m_path(path.isEmpty() ? standardPath() : std::move(path))
{
    QSettings settings(m_path, QSettings::IniFormat);
    QByteArray data = settings.value(trustedDevicesKey).toByteArray();
    if (!data.isEmpty()) {
        auto devices = decodeTrustedDevices(std::string_view(data.constData(), data.size()));
        if (devices)
            m_trustedDevices = std::move(*devices);
    }
    // Written as "true" or "false" by us and by the user alike.
    m_keepAwake = settings.value(keepAwakeKey).toString() == QLatin1String("true");
    m_remoteAccess = settings.value(remoteAccessKey).toString() != QLatin1String("false");
    m_notifications = settings.value(notificationsKey).toString() != QLatin1String("false");
}

QString Settings::standardPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Orvane/Orvane.conf");
}

// Creates the folder (0700) and the file (0600) before QSettings ever writes,
// whatever the umask: QSettings keeps the mode of a file that exists.
bool Settings::ensurePrivateFile() const
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

bool Settings::setTrustedDevices(std::vector<TrustedDevice> devices)
{
    if (devices == m_trustedDevices)
        return true;
    // Saved before anyone hears of it, so what they read is also on disk.
    // A list that cannot be saved still holds for as long as we run.
    auto json = encodeTrustedDevices(devices);
    bool saved = json && write(trustedDevicesKey, QByteArray::fromStdString(*json));
    m_trustedDevices = std::move(devices);
    Q_EMIT trustedDevicesChanged();
    return saved;
}

bool Settings::setKeepAwake(bool on)
{
    return setSwitch(m_keepAwake, keepAwakeKey, on, &Settings::keepAwakeChanged);
}

bool Settings::setRemoteAccess(bool on)
{
    return setSwitch(m_remoteAccess, remoteAccessKey, on, &Settings::remoteAccessChanged);
}

bool Settings::setNotifications(bool on)
{
    return setSwitch(m_notifications, notificationsKey, on, &Settings::notificationsChanged);
}

bool Settings::setSwitch(bool& value, const QString& key, bool on, void (Settings::*changed)())
{
    if (on == value)
        return true;
    value = on;
    bool saved = write(key, on);
    Q_EMIT(this->*changed)();
    return saved;
}

QString Settings::relayUrl() const
{
    return QSettings(m_path, QSettings::IniFormat).value(relayUrlKey).toString().trimmed();
}

bool Settings::setRelayUrl(const QString& url)
{
    return write(relayUrlKey, url.trimmed());
}

QString Settings::portalToken(const QString& kind) const
{
    return QSettings(m_path, QSettings::IniFormat)
        .value(QStringLiteral("portal/") + kind)
        .toString();
}

bool Settings::setPortalToken(const QString& kind, const QString& token)
{
    return write(QStringLiteral("portal/") + kind, token);
}

void Settings::applyLimits(ServerLimits& limits) const
{
    QSettings settings(m_path, QSettings::IniFormat);
    auto read = [&](const char* key) -> std::optional<qint64> {
        bool ok = false;
        qint64 value =
            settings.value(QStringLiteral("limits/") + QLatin1String(key)).toLongLong(&ok);
        return ok && value >= 0 ? std::optional(value) : std::nullopt;
    };
    if (auto floor = read("freeSpaceFloorBytes"))
        limits.freeSpaceFloorBytes = *floor;
    if (auto count = read("authenticatedConnections"); count && *count > 0)
        limits.authenticatedConnections = static_cast<std::size_t>(*count);
    if (auto count = read("connectionsPerDevice"); count && *count > 0)
        limits.connectionsPerDevice = static_cast<std::size_t>(*count);
    // A test or a load run that pairs many phones from one address.
    if (auto count = read("pairingStartsPerMinute"); count && *count > 0)
        limits.pairingStartsPerMinute = static_cast<int>(std::min<qint64>(*count, 1'000'000));
    if (auto count = read("pairingStartsPerAddressPerMinute"); count && *count > 0)
        limits.pairingStartsPerAddressPerMinute =
            static_cast<int>(std::min<qint64>(*count, 1'000'000));
    if (auto spacing = read("pairingStartSpacingMs"))
        limits.pairingStartSpacingMs = *spacing;
}

bool Settings::write(const QString& key, const QVariant& value)
{
    if (!ensurePrivateFile())
        return false;
    QSettings settings(m_path, QSettings::IniFormat);
    settings.setValue(key, value);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace orvane
