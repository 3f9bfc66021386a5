#include "server_status.h"

#include "safe_text.h"

namespace orvane {

ServerStatus::ServerStatus(Sources sources, QObject* parent)
    : QObject(parent), m_src(std::move(sources))
{
    forwardSignals();
}

ServerStatus::~ServerStatus()
{
    m_src.system.onKeepAwakeChanged = nullptr;
}

void ServerStatus::forwardSignals()
{
    connect(&m_src.pairing, &PairingController::requestChanged, this,
            &ServerStatus::pairingRequestChanged);
    connect(&m_src.updates, &UpdatePublisher::accessibilityGrantedChanged, this,
            &ServerStatus::accessibilityGrantedChanged);
    connect(&m_src.updates, &UpdatePublisher::screenRecordingGrantedChanged, this,
            &ServerStatus::screenRecordingGrantedChanged);
    connect(&m_src.updates, &UpdatePublisher::mediaPermissionDeniedChanged, this,
            &ServerStatus::mediaPermissionDeniedChanged);
    connect(&m_src.router, &Router::lastCommandChanged, this, &ServerStatus::lastCommandChanged);
    connect(&m_src.screen, &ScreenShareSessions::viewersChanged, this,
            &ServerStatus::screenViewersChanged);
    connect(&m_src.settings, &Settings::trustedDevicesChanged, this,
            &ServerStatus::trustedDevicesChanged);
    connect(&m_src.settings, &Settings::keepAwakeChanged, this, &ServerStatus::keepsAwakeChanged);
    connect(&m_src.settings, &Settings::remoteAccessChanged, this,
            &ServerStatus::remoteAccessChanged);
    m_src.system.onKeepAwakeChanged = [this] { Q_EMIT keepAwakeHoldChanged(); };
}

QStringList ServerStatus::deviceNames() const
{
    QStringList names;
    for (const Device& device : m_devices)
        names << device.name;
    return names;
}

QString ServerStatus::pairingUrl() const
{
    return QString::fromStdString(m_src.pairing.pairingUrl(m_src.computerName));
}

void ServerStatus::setListening(bool listening, quint16 port)
{
    m_port = listening ? port : 0;
    if (m_isListening == listening)
        return;
    m_isListening = listening;
    Q_EMIT isListeningChanged();
}

void ServerStatus::setErrorMessage(std::optional<QString> message)
{
    if (m_errorMessage == message)
        return;
    m_errorMessage = std::move(message);
    Q_EMIT errorMessageChanged();
}

void ServerStatus::setDevices(DeviceList devices)
{
    if (m_devices == devices)
        return;
    m_devices = std::move(devices);
    Q_EMIT devicesChanged();
}

void ServerStatus::setAdvertisedName(const QString& name)
{
    if (std::exchange(m_advertisedName, name) != name)
        Q_EMIT advertisedNameChanged();
}

void ServerStatus::addActivity(const QString& text, const QString& device, bool success)
{
    // Both may echo what a phone sent.
    pushActivity(m_activity, {makeUuid(m_src.random), QDateTime::currentDateTimeUtc(),
                              shownText(device), shownText(text), success});
    Q_EMIT activityChanged();
}

} // namespace orvane
