#pragma once

#include "platform/input_device.h"
#include "platform/linux/pipewire/screen_stream.h"

#include <QDBusConnection>
#include <QString>

#include <functional>
#include <memory>

namespace orvane {

// Where the portal's restore tokens are kept between runs (the settings
// file), so the user is asked once, not at every start.
struct PortalTokenStore {
    std::function<QString()> remoteDesktop;
    std::function<void(const QString&)> setRemoteDesktop;
    std::function<QString()> screenCast;
    std::function<void(const QString&)> setScreenCast;
};

// What the user decided about the portal's dialog.
enum class PortalApproval { notAsked, asking, granted, declined, unavailable };

// The user's answer as the window shows it, and a way to ask again.
class PortalAccess {
public:
    virtual ~PortalAccess() = default;
    virtual PortalApproval inputApproval() = 0;
    virtual PortalApproval screenApproval() = 0;
    virtual void askAgain() = 0;
};

// Input and screen streams through the desktop portal (KDE Plasma, and any
// desktop whose portal offers remote input): one session, asked for when
// first needed and reused.
struct PortalBackend {
    std::unique_ptr<InputDevice> input;
    std::shared_ptr<ScreenStreamOpener> streams;
    std::shared_ptr<PortalAccess> access;
};

// The device types the portal's remote desktop offers (1 keyboard, 2
// pointer, 4 touchscreen); 0 when there is no portal or it offers none.
unsigned portalRemoteDesktopDeviceTypes(const QDBusConnection& bus);

PortalBackend makePortalBackend(const QDBusConnection& bus, PortalTokenStore tokens);

} // namespace orvane
