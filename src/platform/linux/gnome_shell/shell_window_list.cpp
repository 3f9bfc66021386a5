#include "shell_window_list.h"

#include <QDBusArgument>
#include <QVariantMap>

namespace orvane {

namespace {

// A desktop with more windows than this is not describing real ones; the
// bound keeps a misbehaving shell from filling memory.
constexpr int maxWindows = 1024;
constexpr int maxTitleLength = 1024;
constexpr int maxAppIdLength = 256;

template <class T> std::optional<T> typed(const QVariantMap& map, const char* key)
{
    const QVariant value = map.value(QLatin1String(key));
    if (value.metaType() != QMetaType::fromType<T>())
        return std::nullopt;
    return value.value<T>();
}

std::optional<Rect> readBox(const QVariant& value)
{
    if (!value.canConvert<QDBusArgument>())
        return std::nullopt;
    const auto argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("(iiii)"))
        return std::nullopt;
    int x = 0, y = 0, width = 0, height = 0;
    argument.beginStructure();
    argument >> x >> y >> width >> height;
    argument.endStructure();
    if (width < 0 || height < 0)
        return std::nullopt;
    return Rect{double(x), double(y), double(width), double(height)};
}

std::optional<ShellWindow> readWindow(const QVariantMap& map)
{
    const auto id = typed<qulonglong>(map, "id");
    if (!id || *id == 0)
        return std::nullopt;
    ShellWindow shell;
    shell.shellId = *id;
    shell.appId = typed<QString>(map, "app_id").value_or(QString()).left(maxAppIdLength);
    shell.focused = typed<bool>(map, "focused").value_or(false);
    DesktopWindow& window = shell.window;
    window.id = desktopWindowId(*id);
    window.pid = std::max(0, typed<int>(map, "pid").value_or(0));
    window.title = typed<QString>(map, "title").value_or(QString()).left(maxTitleLength);
    // Orvane names applications by their desktop entry's id without the
    // suffix, as it launches them.
    window.applicationClass = shell.appId;
    if (window.applicationClass.endsWith(QLatin1String(".desktop")))
        window.applicationClass.chop(8);
    window.normal = typed<bool>(map, "normal").value_or(false);
    window.onScreen = !typed<bool>(map, "minimized").value_or(false);
    window.frame = readBox(map.value(QStringLiteral("frame"))).value_or(Rect{});
    return shell;
}

} // namespace

std::uint32_t desktopWindowId(std::uint64_t shellId)
{
    const auto low = static_cast<std::uint32_t>(shellId);
    // 0 means "no window" to the callers.
    return low == 0 ? static_cast<std::uint32_t>(shellId >> 32) | 1u : low;
}

std::vector<ShellWindow> parseShellWindows(const QDBusMessage& reply)
{
    std::vector<ShellWindow> windows;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String("aa{sv}"))
        return windows;
    const auto list = reply.arguments().at(0).value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd() && int(windows.size()) < maxWindows) {
        QVariantMap map;
        list >> map;
        if (auto window = readWindow(map))
            windows.push_back(std::move(*window));
    }
    list.endArray();
    return windows;
}

std::optional<Rect> parseShellWorkArea(const QDBusMessage& reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String("(iiii)"))
        return std::nullopt;
    const std::optional<Rect> area = readBox(reply.arguments().at(0));
    if (!area || area->isNull())
        return std::nullopt;
    return area;
}

} // namespace orvane
