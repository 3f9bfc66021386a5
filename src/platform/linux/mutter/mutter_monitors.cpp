#include "mutter_monitors.h"

#include "mutter_names.h"

#include <QDBusArgument>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QVariantMap>

#include <cmath>

namespace orvane {

namespace {

// A first look waits this long for the desktop; longer would stall the
// event loop, and the answer is cached once it arrives anyway.
constexpr int firstLookTimeoutMs = 40;
// A desktop reporting more than this is not describing real monitors.
constexpr int maxMonitors = 64;

struct Mode {
    int width = 0;
    int height = 0;
    bool current = false;
};

struct Physical {
    QString connector;
    std::optional<Mode> mode;
    bool builtIn = false;
    QString displayName;
};

QVariantMap readProperties(const QDBusArgument& in)
{
    QVariantMap map;
    in >> map;
    return map;
}

Physical readPhysical(const QDBusArgument& in)
{
    Physical monitor;
    QString vendor, product, serial;
    in.beginStructure();
    in.beginStructure();
    in >> monitor.connector >> vendor >> product >> serial;
    in.endStructure();
    in.beginArray();
    while (!in.atEnd()) {
        QString modeId;
        int width = 0, height = 0;
        double rate = 0, preferredScale = 0;
        QList<double> scales;
        in.beginStructure();
        in >> modeId >> width >> height >> rate >> preferredScale >> scales;
        const QVariantMap properties = readProperties(in);
        in.endStructure();
        if (properties.value(QStringLiteral("is-current")).toBool())
            monitor.mode = Mode{width, height, true};
    }
    in.endArray();
    const QVariantMap properties = readProperties(in);
    in.endStructure();
    monitor.builtIn = properties.value(QStringLiteral("is-builtin")).toBool();
    monitor.displayName = properties.value(QStringLiteral("display-name")).toString();
    return monitor;
}

struct Logical {
    int x = 0, y = 0;
    double scale = 1;
    unsigned transform = 0;
    bool primary = false;
    QStringList connectors;
};

Logical readLogical(const QDBusArgument& in)
{
    Logical logical;
    in.beginStructure();
    in >> logical.x >> logical.y >> logical.scale >> logical.transform >> logical.primary;
    in.beginArray();
    while (!in.atEnd()) {
        QString connector, vendor, product, serial;
        in.beginStructure();
        in >> connector >> vendor >> product >> serial;
        in.endStructure();
        logical.connectors << connector;
    }
    in.endArray();
    readProperties(in);
    in.endStructure();
    return logical;
}

bool validScale(double scale)
{
    return std::isfinite(scale) && scale >= 0.25 && scale <= 16;
}

MutterMonitor combine(const Physical& physical, const Logical& logical, bool logicalLayout)
{
    MutterMonitor monitor;
    monitor.connector = physical.connector;
    monitor.id = mutterDisplayId(physical.connector);
    monitor.pixelWidth = physical.mode->width;
    monitor.pixelHeight = physical.mode->height;
    monitor.scale = validScale(logical.scale) ? logical.scale : 1;
    // Odd transforms turn the monitor by 90 or 270 degrees.
    const bool turned = logical.transform % 2 == 1;
    double width = turned ? monitor.pixelHeight : monitor.pixelWidth;
    double height = turned ? monitor.pixelWidth : monitor.pixelHeight;
    // In the logical layout a monitor scaled by two covers half its pixels
    // of the desktop; in the physical one it covers all of them.
    if (logicalLayout) {
        width /= monitor.scale;
        height /= monitor.scale;
    }
    monitor.logical = Rect{double(logical.x), double(logical.y), width, height};
    monitor.isPrimary = logical.primary;
    monitor.isBuiltIn = physical.builtIn;
    monitor.displayName = physical.displayName;
    return monitor;
}

} // namespace

std::uint32_t mutterDisplayId(const QString& connector)
{
    // FNV-1a: stable across runs, unlike qHash.
    std::uint32_t hash = 2166136261u;
    for (char byte : connector.toUtf8()) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= 16777619u;
    }
    return hash == 0 ? 1 : hash;
}

std::vector<MutterMonitor> parseMutterDisplayState(const QDBusMessage& reply)
{
    std::vector<MutterMonitor> result;
    if (reply.type() != QDBusMessage::ReplyMessage ||
        reply.signature() !=
            QStringLiteral("ua((ssss)a(siiddada{sv})a{sv})a(iiduba(ssss)a{sv})a{sv}"))
        return result;
    const auto args = reply.arguments();
    std::vector<Physical> physical;
    const auto monitors = args.at(1).value<QDBusArgument>();
    monitors.beginArray();
    while (!monitors.atEnd())
        physical.push_back(readPhysical(monitors));
    monitors.endArray();
    std::vector<Logical> logical;
    const auto logicals = args.at(2).value<QDBusArgument>();
    logicals.beginArray();
    while (!logicals.atEnd())
        logical.push_back(readLogical(logicals));
    logicals.endArray();
    const QVariantMap properties = qdbus_cast<QVariantMap>(args.at(3));
    // layout-mode 1 is the logical layout, 2 the physical one.
    const bool logicalLayout = properties.value(QStringLiteral("layout-mode"), 1).toUInt() == 1;
    for (const Logical& area : logical) {
        for (const Physical& monitor : physical) {
            if (!monitor.mode || !area.connectors.contains(monitor.connector) ||
                int(result.size()) >= maxMonitors)
                continue;
            if (monitor.mode->width <= 0 || monitor.mode->height <= 0)
                continue;
            result.push_back(combine(monitor, area, logicalLayout));
        }
    }
    return result;
}

std::optional<Rect> parseStreamArea(const QVariantMap& parameters)
{
    auto pair = [&](const char* name) -> std::optional<std::pair<int, int>> {
        const QVariant value = parameters.value(QLatin1String(name));
        if (!value.canConvert<QDBusArgument>())
            return std::nullopt;
        const auto argument = value.value<QDBusArgument>();
        if (argument.currentSignature() != QLatin1String("(ii)"))
            return std::nullopt;
        int a = 0, b = 0;
        argument.beginStructure();
        argument >> a >> b;
        argument.endStructure();
        return std::pair{a, b};
    };
    const auto position = pair("position");
    const auto size = pair("size");
    if (!position || !size || size->first <= 0 || size->second <= 0)
        return std::nullopt;
    return Rect{double(position->first), double(position->second), double(size->first),
                double(size->second)};
}

MutterMonitors::MutterMonitors(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus))
{
    m_bus.connect(mutter::displayConfigService, mutter::displayConfigPath,
                  mutter::displayConfigInterface, QStringLiteral("MonitorsChanged"), this,
                  SLOT(refresh()));
    refresh();
}

void MutterMonitors::refresh()
{
    const unsigned generation = ++m_generation;
    auto message =
        QDBusMessage::createMethodCall(mutter::displayConfigService, mutter::displayConfigPath,
                                       mutter::displayConfigInterface, "GetCurrentState");
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, generation](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                if (generation != m_generation)
                    return;
                std::vector<MutterMonitor> monitors = parseMutterDisplayState(call->reply());
                const bool differ = m_known && monitors != m_monitors;
                m_monitors = std::move(monitors);
                m_known = true;
                if (differ)
                    Q_EMIT changed();
            });
}

const std::vector<MutterMonitor>& MutterMonitors::current()
{
    if (!m_known) {
        auto message =
            QDBusMessage::createMethodCall(mutter::displayConfigService, mutter::displayConfigPath,
                                           mutter::displayConfigInterface, "GetCurrentState");
        const QDBusMessage reply = m_bus.call(message, QDBus::Block, firstLookTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage) {
            m_monitors = parseMutterDisplayState(reply);
            m_known = true;
            ++m_generation; // an older answer still on its way is stale now
        }
    }
    return m_monitors;
}

std::optional<MutterMonitor> MutterMonitors::byId(std::uint32_t id)
{
    for (const MutterMonitor& monitor : current())
        if (monitor.id == id)
            return monitor;
    return std::nullopt;
}

std::optional<MutterMonitor> MutterMonitors::byConnector(const QString& connector)
{
    for (const MutterMonitor& monitor : current())
        if (connector.isEmpty() ? monitor.isPrimary : monitor.connector == connector)
            return monitor;
    return std::nullopt;
}

std::vector<CaptureDisplay> MutterMonitors::captureDisplays()
{
    std::vector<CaptureDisplay> displays;
    for (const MutterMonitor& monitor : current())
        displays.push_back(CaptureDisplay{monitor.id, monitor.pixelWidth, monitor.pixelHeight,
                                          monitor.scale, monitor.isPrimary});
    return displays;
}

std::vector<DisplayDescription> MutterMonitors::descriptions()
{
    std::vector<DisplayDescription> displays;
    for (const MutterMonitor& monitor : current()) {
        DisplayDescription display;
        display.id = monitor.id;
        display.name = monitor.connector;
        display.isBuiltIn = monitor.isBuiltIn;
        display.isMain = monitor.isPrimary;
        display.bounds = monitor.logical;
        for (const DisplayDescription& other : displays)
            display.isMirror = display.isMirror || other.bounds == display.bounds;
        displays.push_back(display);
    }
    return displays;
}

} // namespace orvane
