#include "kwin_windows.h"

#include "kwin_script.h"
#include "kwin_window_pictures.h"

#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVirtualObject>
#include <QDir>
#include <QJsonDocument>

#include <algorithm>
#include <cmath>
#include <set>

namespace orvane {

namespace {

const QString kwinService = QStringLiteral("org.kde.KWin");
const QString scriptingPath = QStringLiteral("/Scripting");
const QString scriptingInterface = QStringLiteral("org.kde.kwin.Scripting");
const QString scriptName = QStringLiteral("orvane-windows");
const QString ourPath = QStringLiteral("/org/orvane/KWinWindows");
const QString ourInterface = QStringLiteral("org.orvane.KWinWindows");

// KWin's own call to us gives up after 25 s; an empty answer before that
// keeps the script asking.
constexpr int idleAnswerMs = 15000;
// Orders pile up only while KWin is busy or stuck; the oldest give way.
constexpr qsizetype maxOrders = 64;
constexpr qsizetype maxReportBytes = 4 << 20;
constexpr int maxLoadAttempts = 20;
constexpr int loadRetryMs = 250;

QDBusMessage kwinCall(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {})
{
    QDBusMessage call = QDBusMessage::createMethodCall(kwinService, path, interface, method);
    call.setArguments(arguments);
    return call;
}

std::vector<std::uint32_t> windowIds(const KWinReport& report)
{
    std::vector<std::uint32_t> ids;
    for (const KWinWindow& w : report.windows)
        ids.push_back(w.window.id);
    std::sort(ids.begin(), ids.end());
    return ids;
}

const KWinWindow* activeIn(const KWinReport& report)
{
    for (const KWinWindow& w : report.windows)
        if (w.active)
            return &w;
    return nullptr;
}

std::optional<std::uint32_t> activeId(const KWinReport& report)
{
    const KWinWindow* w = activeIn(report);
    return w ? std::optional(w->window.id) : std::nullopt;
}

void notify(const std::function<void()>& callback)
{
    if (callback)
        callback();
}

} // namespace

class KWinWindows::Endpoint final : public QDBusVirtualObject {
public:
    explicit Endpoint(KWinWindows& owner) : m_owner(owner) {}
    QString introspect(const QString&) const override
    {
        return QStringLiteral("<interface name=\"org.orvane.KWinWindows\">"
                              "<method name=\"report\"><arg name=\"json\" type=\"s\"/></method>"
                              "<method name=\"orders\"><arg type=\"s\" direction=\"out\"/></method>"
                              "</interface>");
    }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override
    {
        return m_owner.handle(message);
    }

private:
    KWinWindows& m_owner;
};

KWinWindows::KWinWindows(QDBusConnection bus)
    : m_bus(std::move(bus)), m_endpoint(std::make_unique<Endpoint>(*this)),
      m_script(QDir::tempPath() + QStringLiteral("/orvane-kwin-XXXXXX.js")),
      m_pictures(std::make_unique<KWinWindowPictures>(m_bus))
{
    m_idle.setSingleShot(true);
    QObject::connect(&m_idle, &QTimer::timeout, &m_context, [this] { answerOrders(); });
    m_registered = m_bus.isConnected() && m_bus.registerVirtualObject(ourPath, m_endpoint.get());
    if (!m_registered)
        return;
    QByteArray text(kwinWindowsScript);
    text.replace("ORVANE_SERVICE", m_bus.baseService().toUtf8());
    if (!m_script.open() || m_script.write(text) != text.size() || !m_script.flush())
        return;
    m_script.close();
    m_watcher = std::make_unique<QDBusServiceWatcher>(kwinService, m_bus,
                                                      QDBusServiceWatcher::WatchForOwnerChange);
    QObject::connect(
        m_watcher.get(), &QDBusServiceWatcher::serviceOwnerChanged, &m_context,
        [this](const QString&, const QString&, const QString& owner) { ownerChanged(owner); });
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"));
    ask.setArguments({kwinService});
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(ask, 5000), &m_context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &m_context,
                     [this](QDBusPendingCallWatcher* call) {
                         call->deleteLater();
                         QDBusPendingReply<QString> owner = *call;
                         // The watcher may have told us first.
                         if (owner.isValid() && m_kwin.isEmpty())
                             ownerChanged(owner.value());
                     });
}

KWinWindows::~KWinWindows()
{
    // KWin holds on to a script while a call of it waits for an answer.
    if (m_waiting)
        m_bus.send(m_waiting->createReply(QStringLiteral("[]")));
    if (!m_kwin.isEmpty())
        m_bus.call(kwinCall(scriptingPath, scriptingInterface, QStringLiteral("unloadScript"),
                            {scriptName}),
                   QDBus::NoBlock);
    if (m_registered)
        m_bus.unregisterObject(ourPath);
}

void KWinWindows::ownerChanged(const QString& owner)
{
    if (owner == m_kwin)
        return;
    forget();
    m_kwin = owner;
    if (!m_kwin.isEmpty())
        loadScript();
}

void KWinWindows::loadScript(int attempt)
{
    // A script of ours left by an earlier run (one that crashed, say) would
    // report to a name nobody has any more, and holds the plugin name.
    m_bus.call(
        kwinCall(scriptingPath, scriptingInterface, QStringLiteral("unloadScript"), {scriptName}),
        QDBus::NoBlock);
    const QDBusPendingCall load =
        m_bus.asyncCall(kwinCall(scriptingPath, scriptingInterface, QStringLiteral("loadScript"),
                                 {m_script.fileName(), scriptName}),
                        10000);
    auto* watcher = new QDBusPendingCallWatcher(load, &m_context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &m_context,
                     [this, attempt, kwin = m_kwin](QDBusPendingCallWatcher* call) {
                         call->deleteLater();
                         QDBusPendingReply<int> id = *call;
                         if (kwin != m_kwin || !id.isValid())
                             return;
                         // -1: the name is still taken by a script of ours
                         // that KWin has not finished unloading.
                         if (id.value() < 0) {
                             if (attempt < maxLoadAttempts)
                                 QTimer::singleShot(loadRetryMs, &m_context, [this, attempt, kwin] {
                                     if (kwin == m_kwin)
                                         loadScript(attempt + 1);
                                 });
                             return;
                         }
                         // Plasma 5 puts a loaded script at /<id>, Plasma 6 at
                         // /Scripting/Script<id>; the call to the other fails.
                         const QString number = QString::number(id.value());
                         for (const QString& path :
                              {QString(QLatin1Char('/') + number),
                               QString(scriptingPath + QStringLiteral("/Script") + number)})
                             m_bus.call(kwinCall(path, QStringLiteral("org.kde.kwin.Script"),
                                                 QStringLiteral("run")),
                                        QDBus::NoBlock);
                     });
}

bool KWinWindows::handle(const QDBusMessage& message)
{
    if (message.type() != QDBusMessage::MethodCallMessage || message.interface() != ourInterface)
        return false;
    // Only KWin's reports count: any program on the bus could call.
    if (message.service() != m_kwin || m_kwin.isEmpty()) {
        m_bus.send(message.createErrorReply(QDBusError::AccessDenied, QStringLiteral("not KWin")));
        return true;
    }
    if (message.member() == QLatin1String("report")) {
        const QString json = message.arguments().value(0).toString();
        if (json.size() <= maxReportBytes)
            if (auto report = parseKWinReport(json.toUtf8()))
                take(*report);
        m_bus.send(message.createReply());
        return true;
    }
    if (message.member() == QLatin1String("orders")) {
        // A script loaded again asks anew; the old request is answered.
        if (m_waiting)
            m_bus.send(m_waiting->createReply(QStringLiteral("[]")));
        m_waiting = message;
        if (m_orders.isEmpty())
            m_idle.start(idleAnswerMs);
        else
            answerOrders();
        return true;
    }
    return false;
}

void KWinWindows::take(const KWinReport& report)
{
    KWinReport before = std::move(m_report);
    m_report = report;
    m_ids.number(m_report.windows);
    keepPicturesOfReported();
    const bool wasPresent = std::exchange(m_present, true);
    if (!wasPresent || windowIds(before) != windowIds(m_report))
        notify(onApplicationsChanged);
    if (activeId(before) != activeId(m_report))
        notify(onFrontmostChanged);
    if (before.screens != m_report.screens)
        notify(onScreensChanged);
}

void KWinWindows::forget()
{
    m_idle.stop();
    m_waiting.reset();
    m_orders = QJsonArray();
    if (!std::exchange(m_present, false))
        return;
    const bool hadActive = activeIn(m_report) != nullptr;
    const bool hadScreens = !m_report.screens.empty();
    m_report = KWinReport();
    m_ids.number(m_report.windows);
    keepPicturesOfReported();
    notify(onApplicationsChanged);
    if (hadActive)
        notify(onFrontmostChanged);
    if (hadScreens)
        notify(onScreensChanged);
}

bool KWinWindows::order(std::uint32_t id, QJsonObject order)
{
    const std::optional<QString> uuid = m_ids.uuid(id);
    if (!m_present || !uuid)
        return false;
    order[QLatin1String("id")] = *uuid;
    if (m_orders.size() >= maxOrders)
        m_orders.removeFirst();
    m_orders.append(order);
    answerOrders();
    return true;
}

void KWinWindows::answerOrders()
{
    if (!m_waiting)
        return;
    m_idle.stop();
    m_bus.send(m_waiting->createReply(
        QString::fromUtf8(QJsonDocument(m_orders).toJson(QJsonDocument::Compact))));
    m_waiting.reset();
    m_orders = QJsonArray();
}

const KWinWindow* KWinWindows::find(std::uint32_t id) const
{
    for (const KWinWindow& w : m_report.windows)
        if (w.window.id == id)
            return &w;
    return nullptr;
}

void KWinWindows::keepPicturesOfReported()
{
    std::set<QString> reported;
    for (const KWinWindow& w : m_report.windows)
        reported.insert(w.uuid);
    m_pictures->keepOnly(reported);
}

std::vector<DesktopWindow> KWinWindows::windows()
{
    std::vector<DesktopWindow> all;
    all.reserve(m_report.windows.size());
    for (const KWinWindow& w : m_report.windows)
        all.push_back(w.window);
    return all;
}

std::optional<std::uint32_t> KWinWindows::activeWindow()
{
    return activeId(m_report);
}

std::optional<Rect> KWinWindows::frame(std::uint32_t id)
{
    const KWinWindow* w = find(id);
    if (!w || !w->window.onScreen)
        return std::nullopt;
    return w->window.frame;
}

std::optional<Rect> KWinWindows::workArea(Point p)
{
    for (const KWinScreen& screen : m_report.screens)
        if (screen.geometry.contains(p))
            return screen.workArea;
    if (m_report.screens.empty())
        return std::nullopt;
    return m_report.screens.front().workArea;
}

bool KWinWindows::activate(std::uint32_t id)
{
    return order(id, {{QStringLiteral("action"), QStringLiteral("activate")}});
}

void KWinWindows::sendToBack(std::uint32_t id)
{
    order(id, {{QStringLiteral("action"), QStringLiteral("lower")}});
}

void KWinWindows::close(std::uint32_t id)
{
    order(id, {{QStringLiteral("action"), QStringLiteral("close")}});
}

void KWinWindows::minimize(std::uint32_t id)
{
    order(id, {{QStringLiteral("action"), QStringLiteral("minimize")}});
}

void KWinWindows::toggleFullScreen(std::uint32_t id)
{
    order(id, {{QStringLiteral("action"), QStringLiteral("fullScreen")}});
}

void KWinWindows::setFrame(std::uint32_t id, const Rect& frame)
{
    const bool sane = std::isfinite(frame.x) && std::isfinite(frame.y) && !frame.isNull() &&
                      frame.width < 1e5 && frame.height < 1e5;
    if (!sane)
        return;
    order(id, {{QStringLiteral("action"), QStringLiteral("frame")},
               {QStringLiteral("x"), std::round(frame.x)},
               {QStringLiteral("y"), std::round(frame.y)},
               {QStringLiteral("width"), std::round(frame.width)},
               {QStringLiteral("height"), std::round(frame.height)}});
}

std::optional<QByteArray> KWinWindows::grabJpeg(std::uint32_t id, int width, int height,
                                                int quality)
{
    const KWinWindow* w = find(id);
    // KWin draws nothing of a minimised window, nor of one on another desktop.
    if (!w || !w->window.onScreen)
        return std::nullopt;
    return m_pictures->jpeg(w->uuid, width, height, quality);
}

std::optional<std::int32_t> KWinWindows::frontmostPid()
{
    const KWinWindow* w = activeIn(m_report);
    if (!w || w->window.pid <= 0)
        return std::nullopt;
    return w->window.pid;
}

} // namespace orvane
