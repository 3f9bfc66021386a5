#include "kwin_report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <limits>

namespace orvane {

namespace {

// A coordinate as KWin gives it; anything not a finite number of sane size
// becomes 0, so a bad report cannot make geometry overflow later.
double coordinate(const QJsonValue& value)
{
    const double v = value.toDouble();
    return std::isfinite(v) && std::abs(v) < 1e6 ? v : 0;
}

Rect rect(const QJsonValue& value)
{
    const QJsonObject r = value.toObject();
    return {coordinate(r[QLatin1String("x")]), coordinate(r[QLatin1String("y")]),
            coordinate(r[QLatin1String("width")]), coordinate(r[QLatin1String("height")])};
}

QString bounded(const QJsonValue& value)
{
    // Titles are shown on a phone; a few hundred characters is plenty.
    return value.toString().left(1024);
}

std::optional<KWinWindow> window(const QJsonObject& w)
{
    KWinWindow out;
    out.uuid = bounded(w[QLatin1String("id")]);
    if (out.uuid.isEmpty())
        return std::nullopt;
    const double pid = w[QLatin1String("pid")].toDouble();
    out.window.pid =
        pid > 0 && pid <= std::numeric_limits<std::int32_t>::max() ? std::int32_t(pid) : 0;
    out.window.title = bounded(w[QLatin1String("title")]);
    out.window.applicationClass = bounded(w[QLatin1String("app")]);
    out.window.normal = w[QLatin1String("normal")].toBool(true);
    out.window.onScreen = w[QLatin1String("shown")].toBool(true);
    out.window.frame = rect(w[QLatin1String("frame")]);
    out.active = w[QLatin1String("active")].toBool();
    return out;
}

} // namespace

std::optional<KWinReport> parseKWinReport(const QByteArray& json, std::size_t maxWindows)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    KWinReport report;
    for (const QJsonValue& value : root[QLatin1String("windows")].toArray()) {
        if (report.windows.size() >= maxWindows)
            break;
        if (auto w = window(value.toObject()))
            report.windows.push_back(std::move(*w));
    }
    for (const QJsonValue& value : root[QLatin1String("screens")].toArray()) {
        if (report.screens.size() >= 64)
            break;
        const QJsonObject s = value.toObject();
        KWinScreen screen{rect(s[QLatin1String("geometry")]), rect(s[QLatin1String("workArea")])};
        if (!screen.geometry.isNull())
            report.screens.push_back(screen);
    }
    return report;
}

void KWinWindowIds::number(std::vector<KWinWindow>& windows)
{
    QHash<QString, std::uint32_t> ids;
    QHash<std::uint32_t, QString> uuids;
    for (KWinWindow& w : windows) {
        auto known = m_ids.constFind(w.uuid);
        std::uint32_t id = known != m_ids.constEnd() ? *known : 0;
        if (!id) {
            id = m_next++;
            if (!m_next) // after four billion windows; 0 means none
                m_next = 1;
        }
        w.window.id = id;
        ids.insert(w.uuid, id);
        uuids.insert(id, w.uuid);
    }
    m_ids = std::move(ids);
    m_uuids = std::move(uuids);
}

std::optional<QString> KWinWindowIds::uuid(std::uint32_t id) const
{
    auto found = m_uuids.constFind(id);
    if (found == m_uuids.constEnd())
        return std::nullopt;
    return *found;
}

} // namespace orvane
