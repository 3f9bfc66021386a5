#pragma once

#include "kwin_report.h"
#include "platform/window_system.h"
#include "platform/workspace_events.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QTemporaryFile>
#include <QTimer>

#include <memory>

class QDBusServiceWatcher;

namespace orvane {

class KWinWindowPictures;

// The windows of a KDE Plasma desktop, through a script of ours that KWin
// runs. The script reports every change to an object this class exports on
// the bus, so reads answer at once from the last report; requests are queued
// for the script, which fetches them. Nothing here waits for KWin.
//
// Without KWin on the bus (or before the script's first report) the list is
// empty and requests do nothing. When KWin comes (back), the script is
// loaded again.
class KWinWindows final : public WindowSystem, public WorkspaceEvents {
public:
    explicit KWinWindows(QDBusConnection bus);
    ~KWinWindows() override;

    // Whether KWin runs our script and has reported to it.
    bool present() const { return m_present; }

    bool isAvailable() override { return m_present; }
    std::vector<DesktopWindow> windows() override;
    std::optional<std::uint32_t> activeWindow() override;
    std::optional<Rect> frame(std::uint32_t id) override;
    std::optional<Rect> workArea(Point p) override;
    bool activate(std::uint32_t id) override;
    void sendToBack(std::uint32_t id) override;
    void close(std::uint32_t id) override;
    void minimize(std::uint32_t id) override;
    void toggleFullScreen(std::uint32_t id) override;
    void setFrame(std::uint32_t id, const Rect& frame) override;
    std::optional<QByteArray> grabJpeg(std::uint32_t id, int width, int height,
                                       int quality) override;

    std::optional<std::int32_t> frontmostPid() override;

private:
    class Endpoint;
    friend class Endpoint;

    void ownerChanged(const QString& owner);
    void loadScript(int attempt = 1);
    // A call from the script; false for one that is not ours to answer.
    bool handle(const QDBusMessage& message);
    void take(const KWinReport& report);
    void forget();
    bool order(std::uint32_t id, QJsonObject order);
    void answerOrders();
    const KWinWindow* find(std::uint32_t id) const;
    void keepPicturesOfReported();

    QDBusConnection m_bus;
    std::unique_ptr<Endpoint> m_endpoint;
    std::unique_ptr<QDBusServiceWatcher> m_watcher;
    QTemporaryFile m_script;
    bool m_registered = false;
    QString m_kwin; // KWin's unique name on the bus; empty while it is away
    bool m_present = false;
    KWinReport m_report;
    KWinWindowIds m_ids;
    QJsonArray m_orders;
    std::optional<QDBusMessage> m_waiting; // the script's request for orders
    QTimer m_idle;                         // answers it empty before KWin gives up on it
    std::unique_ptr<KWinWindowPictures> m_pictures;
    QObject m_context; // ends the callbacks with this object
};

} // namespace orvane
