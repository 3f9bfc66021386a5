#include "sway_tree.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace orvane {

namespace {

constexpr int maxDepth = 64;
constexpr std::size_t maxWindows = 1024;
constexpr int maxTextChars = 1024;
const QString scratchpad = QStringLiteral("__i3_scratch");

Rect rectOf(const QJsonValue& value)
{
    const QJsonObject r = value.toObject();
    return Rect{r.value(QLatin1String("x")).toDouble(), r.value(QLatin1String("y")).toDouble(),
                r.value(QLatin1String("width")).toDouble(),
                r.value(QLatin1String("height")).toDouble()};
}

bool isWindow(const QJsonObject& node)
{
    // Containers that hold windows have children; a window has a process.
    return node.contains(QLatin1String("pid")) &&
           node.value(QLatin1String("nodes")).toArray().isEmpty() &&
           node.value(QLatin1String("floating_nodes")).toArray().isEmpty();
}

DesktopWindow windowOf(const QJsonObject& node, bool hidden)
{
    DesktopWindow window;
    window.id = std::uint32_t(node.value(QLatin1String("id")).toDouble());
    window.pid = std::int32_t(node.value(QLatin1String("pid")).toDouble());
    window.title = node.value(QLatin1String("name")).toString().left(maxTextChars);
    // XWayland's windows have a class instead of an app id.
    QString app = node.value(QLatin1String("app_id")).toString();
    if (app.isEmpty())
        app = node.value(QLatin1String("window_properties"))
                  .toObject()
                  .value(QLatin1String("class"))
                  .toString();
    window.applicationClass = app.left(maxTextChars);
    window.onScreen = !hidden;
    window.frame = rectOf(node.value(QLatin1String("rect")));
    return window;
}

class Walk {
public:
    SwayTree tree;

    void visit(const QJsonObject& node, int depth, bool hidden)
    {
        if (depth > maxDepth || tree.windows.size() >= maxWindows)
            return;
        const QString type = node.value(QLatin1String("type")).toString();
        if (type == QLatin1String("workspace")) {
            hidden = node.value(QLatin1String("name")).toString() == scratchpad;
            if (!hidden)
                tree.workAreas.push_back(rectOf(node.value(QLatin1String("rect"))));
        }
        if (isWindow(node)) {
            tree.windows.push_back(windowOf(node, hidden));
            if (node.value(QLatin1String("focused")).toBool())
                tree.focused = tree.windows.back().id;
            return;
        }
        for (const QJsonObject& child : inFocusOrder(node))
            visit(child, depth + 1, hidden);
    }

private:
    // Children as last focused first: the nearest to front to back that a
    // tiling desktop has.
    static std::vector<QJsonObject> inFocusOrder(const QJsonObject& node)
    {
        std::vector<QJsonObject> children;
        for (const char* key : {"floating_nodes", "nodes"})
            for (const QJsonValue& child : node.value(QLatin1String(key)).toArray())
                children.push_back(child.toObject());
        const QJsonArray focus = node.value(QLatin1String("focus")).toArray();
        const auto rank = [&focus](const QJsonObject& child) {
            const QJsonValue id = child.value(QLatin1String("id"));
            for (qsizetype i = 0; i < focus.size(); ++i)
                if (focus[i] == id)
                    return i;
            return focus.size();
        };
        std::stable_sort(
            children.begin(), children.end(),
            [&](const QJsonObject& a, const QJsonObject& b) { return rank(a) < rank(b); });
        return children;
    }
};

} // namespace

std::optional<SwayTree> parseSwayTree(const QByteArray& json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject() ||
        document.object().value(QLatin1String("type")) != QLatin1String("root"))
        return std::nullopt;
    Walk walk;
    walk.visit(document.object(), 0, false);
    return walk.tree;
}

} // namespace orvane
