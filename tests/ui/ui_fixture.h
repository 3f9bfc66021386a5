#pragma once

// The three windows over one server on fakes, drawn off screen.
#include "support/server_rig.h"

#include "platform/fake/fake_desktop_checks.h"

#include "ui/main_window.h"
#include "ui/pairing_window.h"
#include "ui/tray_panel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QTcpServer>

namespace orvane::test {

class WindowsFixture : public ServerFixture {
protected:
    void TearDown() override { server->setPairingPanel(&panel); }

    // The server listening on a free port, or failing on one that is taken.
    void start(bool portTaken = false)
    {
        if (portTaken) {
            ASSERT_TRUE(m_blocker.listen(QHostAddress::Any, 0));
            port = m_blocker.serverPort();
            restart();
        }
        fakes.displays->displays = {{1, "eDP-1", false, true, false, {}}};
        screenCapture->list = {CaptureDisplay{1, 1920, 1080, 1, true}};
        server->start();
        ASSERT_TRUE(portTaken || pumpUntil([&] { return server->status().isListening(); }));
        pairing = std::make_unique<PairingWindow>(*server);
        server->setPairingPanel(pairing.get());
        window = std::make_unique<MainWindow>(
            *server, checks,
            [] {
                MacInfo info;
                info.modelName = "ThinkPad X1 Carbon";
                info.chip = "AMD Ryzen 7 PRO 6850U";
                info.systemVersion = "Debian GNU/Linux 12";
                return info;
            },
            [this] { ++quits; });
        tray = std::make_unique<TrayPanel>(
            *server, TrayPanel::Actions{[this] { ++opens; }, [this] { ++quits; }});
    }

    // Shows the widget, at the size of its content unless `keepSize`, and
    // writes it as renders/NAME.png.
    static void render(QWidget& widget, const QString& name, bool keepSize = false)
    {
        widget.show();
        if (!keepSize)
            widget.adjustSize();
        settle();
        QDir().mkpath(QStringLiteral(ORVANE_UI_RENDER_DIR));
        EXPECT_TRUE(
            widget.grab().toImage().save(QStringLiteral(ORVANE_UI_RENDER_DIR "/%1.png").arg(name)))
            << "not drawn: " << name.toStdString();
    }

    template <class T = QWidget> static T* child(QWidget& root, const char* name)
    {
        T* found = root.findChild<T*>(QLatin1String(name));
        EXPECT_NE(found, nullptr) << "no " << name;
        return found;
    }

    // The widgets of that type (and name, when given) that `root` shows.
    template <class T> static QList<T*> visible(QWidget& root, const char* name = nullptr)
    {
        QList<T*> found = root.findChildren<T*>(name ? QLatin1String(name) : QString());
        found.removeIf([&](T* w) { return !w->isVisibleTo(&root); });
        return found;
    }
    static bool shown(QWidget& root, const char* name)
    {
        return !visible<QWidget>(root, name).isEmpty();
    }

    // Every text of a label or button that `root` shows.
    static QStringList texts(QWidget& root)
    {
        QStringList all;
        for (QLabel* label : visible<QLabel>(root))
            all << label->text();
        for (QAbstractButton* button : visible<QAbstractButton>(root))
            all << button->text();
        all.removeAll(QString());
        return all;
    }

    // Each text is shown (or, with a leading '!', not shown) in root.
    static void expectTexts(QWidget& root, std::initializer_list<const char*> expected)
    {
        const QStringList all = texts(root);
        for (const char* text : expected)
            EXPECT_EQ(all.contains(text + (*text == '!')), *text != '!') << text;
    }

    // Each widget is shown (or, with a leading '!', not shown) in root.
    static void expectShown(QWidget& root, std::initializer_list<const char*> names)
    {
        for (const char* name : names)
            EXPECT_EQ(shown(root, name + (*name == '!')), *name != '!') << name;
    }

    // Answers the question that Forget asks, from whichever window asked.
    static void confirmForget(bool yes = true)
    {
        QMessageBox* box = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->objectName() == QLatin1String("confirmForget") && top->isVisible())
                box = static_cast<QMessageBox*>(top);
        ASSERT_NE(box, nullptr) << "Forget did not ask";
        if (yes)
            box->findChild<QAbstractButton*>("confirmForgetYes")->click();
        else
            box->button(QMessageBox::Cancel)->click();
        settle();
    }

    static void click(QWidget& root, const char* name, int index = 0)
    {
        const QList<QAbstractButton*> buttons = visible<QAbstractButton>(root, name);
        ASSERT_GT(buttons.size(), index) << name;
        EXPECT_TRUE(buttons[index]->isEnabled()) << name;
        buttons[index]->click();
        settle();
    }

    FakeDesktopChecks checks;
    std::unique_ptr<PairingWindow> pairing;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<TrayPanel> tray;
    int quits = 0;
    int opens = 0;

private:
    QTcpServer m_blocker;
};

} // namespace orvane::test
