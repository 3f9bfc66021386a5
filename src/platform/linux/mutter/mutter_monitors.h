#pragma once

#include "platform/display_source.h"
#include "platform/geometry.h"
#include "platform/screen_capture.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <optional>
#include <vector>

namespace orvane {

// One monitor as GNOME's display configuration describes it.
struct MutterMonitor {
    QString connector; // e.g. "DP-1"; what a screen cast records
    std::uint32_t id = 0;
    int pixelWidth = 0; // the current mode
    int pixelHeight = 0;
    double scale = 1;
    Rect logical; // in the desktop's global (logical) coordinates
    bool isPrimary = false;
    bool isBuiltIn = false;
    QString displayName;
    bool operator==(const MutterMonitor&) const = default;
};

// The id a connector's display keeps for as long as the connector exists:
// displays come and go, and a phone that asked for "display 3" must not get
// another monitor after a replug. Never 0.
std::uint32_t mutterDisplayId(const QString& connector);

// The active monitors in a GetCurrentState reply; empty for anything else.
std::vector<MutterMonitor> parseMutterDisplayState(const QDBusMessage& reply);

// Where a screen-cast stream's monitor lies on the desktop, from the
// stream's Parameters; nothing when they do not say.
std::optional<Rect> parseStreamArea(const QVariantMap& parameters);

// The monitors, kept up to date from the desktop's change signal without
// blocking: the first look waits a moment for an answer, later ones use
// what the last answer said.
class MutterMonitors : public QObject {
    Q_OBJECT
public:
    explicit MutterMonitors(QDBusConnection bus, QObject* parent = nullptr);

    const std::vector<MutterMonitor>& current();
    std::optional<MutterMonitor> byId(std::uint32_t id);
    std::optional<MutterMonitor> byConnector(const QString& connector);

    std::vector<CaptureDisplay> captureDisplays();
    std::vector<DisplayDescription> descriptions();

Q_SIGNALS:
    // The monitors differ from what was known before: one came, went, moved
    // or changed its mode or scale.
    void changed();

private Q_SLOTS:
    void refresh();

private:
    QDBusConnection m_bus;
    std::vector<MutterMonitor> m_monitors;
    bool m_known = false;
    unsigned m_generation = 0;
};

} // namespace orvane
