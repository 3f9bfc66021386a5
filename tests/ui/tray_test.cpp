// The tray icon as the desktop sees it: a StatusNotifier item on the session
// bus whose picture follows the server and whose menu holds the actions; and
// the main window instead when nothing on the bus shows tray items.
#include "status_watcher.h"

#include "support/server_rig.h"

#include "platform/linux/linux_desktop_checks.h"
#include "ui/desktop_shell.h"
#include "ui/main_window.h"
#include "ui/tray_icon.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QThread>

// The stand-in tray host lives until the process ends (freeing it crashed
// Qt D-Bus at exit), and Qt D-Bus keeps objects of its own for it: what the
// leak checker finds there at exit is not ours.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libQt6DBus.so\nleak:libQt6Core.so\n";
}

namespace orvane::test {
namespace {

const QString watcherName = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");

class Tray : public ServerFixture {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            << "the tests' session bus is missing (test.sh starts it)";
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "the test display is missing";
        // A screen to share, so that a viewer stays.
        fakes.displays->displays = {{1, "", false, false, false, {}}};
        screenCapture->list = {CaptureDisplay{1, 1920, 1080, 1, true}};
    }
    void TearDown() override
    {
        shell.reset();
        if (m_bus.isConnected()) {
            m_bus.unregisterService(watcherName);
            m_bus.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
        }
        m_thread.quit();
        m_thread.wait();
    }

    // Our watcher, on a connection of its own, as the desktop's would be.
    void offerWatcher()
    {
        m_bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "tray-test-watcher");
        ASSERT_TRUE(m_bus.isConnected());
        ASSERT_TRUE(m_bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                                         QDBusConnection::ExportAllContents));
        watcher.moveToThread(&m_thread);
        m_thread.start();
        ASSERT_TRUE(m_bus.registerService(watcherName)) << "another watcher holds the name";
    }

    void startShell()
    {
        shell = std::make_unique<DesktopShell>(
            *server, *checks, [] { return MacInfo{}; }, nullptr, [this] { ++quits; });
        server->setPairingPanel(&shell->pairingPanel());
        shell->start();
    }

    // Calls the item while this thread keeps serving it: the item lives here.
    QVariant itemProperty(const QString& name)
    {
        auto call = QDBusMessage::createMethodCall(watcher.items().value(0), "/StatusNotifierItem",
                                                   "org.freedesktop.DBus.Properties", "Get");
        call << itemInterface << name;
        QDBusMessage reply = m_bus.call(call, QDBus::BlockWithGui, 5000);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }

    QByteArray iconPixmap()
    {
        const auto argument = itemProperty("IconPixmap").value<QDBusArgument>();
        QByteArray all;
        argument.beginArray();
        while (!argument.atEnd()) {
            int width = 0, height = 0;
            QByteArray bytes;
            argument.beginStructure();
            argument >> width >> height >> bytes;
            argument.endStructure();
            all += bytes;
        }
        argument.endArray();
        return all;
    }

    QStringList menuLabels()
    {
        auto path = itemProperty("Menu").value<QDBusObjectPath>();
        auto call = QDBusMessage::createMethodCall(watcher.items().value(0), path.path(),
                                                   "com.canonical.dbusmenu", "GetLayout");
        call << 0 << -1 << QStringList();
        QDBusMessage reply = m_bus.call(call, QDBus::BlockWithGui, 5000);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        QStringList labels;
        collectLabels(reply.arguments().value(1).value<QDBusArgument>(), labels);
        return labels;
    }

    static void collectLabels(const QDBusArgument& node, QStringList& labels)
    {
        int id = 0;
        QVariantMap properties;
        node.beginStructure();
        node >> id >> properties;
        if (properties.contains(QStringLiteral("label")))
            labels << properties.value(QStringLiteral("label")).toString();
        node.beginArray();
        while (!node.atEnd()) {
            QDBusVariant child;
            node >> child;
            collectLabels(child.variant().value<QDBusArgument>(), labels);
        }
        node.endArray();
        node.endStructure();
    }

    // Never freed: Qt D-Bus keeps a hook on an exported object that fails
    // when the object goes before the process; each case has a process.
    StatusWatcher& watcher = *new StatusWatcher;
    std::unique_ptr<DesktopChecks> checks = makeLinuxDesktopChecks();
    std::unique_ptr<DesktopShell> shell;
    int quits = 0;

private:
    QThread m_thread;
    QDBusConnection m_bus{QString()};
};

TEST_F(Tray, ItemRegistersItsIconFollowsTheServerAndItsMenuHoldsTheActions)
{
    offerWatcher();
    startShell();
    ASSERT_TRUE(pumpUntil([&] { return shell->hasTrayIcon(); }));
    ASSERT_TRUE(pumpUntil([&] { return !watcher.items().isEmpty(); }, 5000))
        << "the item never registered";
    EXPECT_FALSE(shell->mainWindow().isVisible()) << "the tray stands in for the window";

    QByteArray idle = iconPixmap();
    ASSERT_FALSE(idle.isEmpty());
    auto phone = pairedPhone("Ada's phone");
    ASSERT_TRUE(pumpUntil([&] { return iconPixmap() != idle; }, 3000)) << "connected";
    QByteArray connected = iconPixmap();
    phone->send(msg::StartScreenShare{{false}});
    ASSERT_TRUE(pumpUntil([&] { return iconPixmap() != connected; }, 3000)) << "sharing";
    EXPECT_NE(iconPixmap(), idle);
    server->stopScreenSharing();
    ASSERT_TRUE(pumpUntil([&] { return iconPixmap() == connected; }, 3000)) << "back";

    QStringList labels = menuLabels();
    EXPECT_TRUE(labels.contains("Open Orvane Window")) << labels.join('|').toStdString();
    EXPECT_TRUE(labels.contains("Quit Orvane")) << labels.join('|').toStdString();
    shell->trayIcon()->menu().actions().last()->trigger();
    EXPECT_EQ(quits, 1);
}

TEST_F(Tray, WithoutAWatcherTheMainWindowOpens)
{
    ASSERT_FALSE(QDBusConnection::sessionBus().interface()->isServiceRegistered(watcherName))
        << "something else on the tests' bus shows tray items";
    QElapsedTimer started;
    started.start();
    startShell();
    ASSERT_TRUE(pumpUntil([&] { return shell->mainWindow().isVisible(); }));
    EXPECT_LT(started.elapsed(), 1500);
    EXPECT_FALSE(shell->hasTrayIcon());
    shell->mainWindow().close();
    EXPECT_TRUE(shell->mainWindow().isHidden());
    EXPECT_EQ(quits, 0) << "closing the window never quits";
}

} // namespace
} // namespace orvane::test
