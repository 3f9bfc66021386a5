// The look follows the desktop's preference as a stand-in settings portal on
// the tests' session bus announces it, while widgets are open, and Qt's own
// palette without one; without a portal, GNOME's setting; the tray icon reads on light and on dark
// panels, and is named for the tray to tint where the icon theme has it.
#include "support/pump.h"
#include "support/scoped_environment.h"
#include "system/fake_service.h"

#include "platform/linux/desktop/desktop_color_scheme.h"
#include "ui/symbols.h"
#include "ui/theme.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QScrollBar>
#include <QTemporaryDir>

namespace orvane::test {
namespace {

TEST(Theme, FollowsThePortalLiveAndQtsPaletteWithoutAPreference)
{
    ASSERT_EQ(qgetenv("ORVANE_TEST_SESSION_BUS_OK"), "1") << "no test session bus";
    const QColor qtWindow = QApplication::palette().color(QPalette::Window);
    auto portal = FakeService::start({"portal", "1"});
    DesktopColorScheme desktop;
    desktop.onChanged = [&] { style::followPreference(desktop.prefersDark()); };
    style::followPreference(desktop.prefersDark());
    QWidget window;
    style::setBackground(&window, style::cardBackground());
    QLabel* label = style::label("Visible", 12, style::primaryText());
    label->setParent(&window);
    auto* bar = new QScrollBar(&window);
    const std::pair<const char*, bool> steps[] = {{"", true}, {"2", false}, {"1", true}};
    for (const auto& step : steps) {
        const char* scheme = step.first;
        const bool dark = step.second;
        if (*scheme)
            portal->tell(QStringLiteral("scheme ") + scheme);
        ASSERT_TRUE(pumpUntil([&] { return style::isDark() == dark; })) << scheme;
        EXPECT_EQ(QApplication::palette().color(QPalette::Window).lightness() < 100, dark);
        EXPECT_EQ(window.palette().color(QPalette::Window).lightness() < 100, dark);
        EXPECT_EQ(label->palette().color(QPalette::WindowText).lightness() > 150, dark);
        EXPECT_EQ(bar->palette().color(QPalette::Button).lightness() < 100, dark);
    }
    portal->tell("scheme 0");
    ASSERT_TRUE(pumpUntil([&] { return !desktop.prefersDark(); }));
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), qtWindow) << "Qt's own again";
    EXPECT_EQ(style::isDark(), qtWindow.lightness() < 128);
}

// Without a portal, GNOME's setting, whose changes gsettings reports.
TEST(Theme, WithoutAPortalFollowsGnomesSetting)
{
    QTemporaryDir bin;
    QFile tool(bin.filePath("gsettings"));
    ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
    tool.write("#!/bin/sh\ncase \"$1\" in\n"
               "get) echo \"'prefer-dark'\" ;;\n"
               "monitor) echo \"color-scheme: 'prefer-light'\"; exec sleep 60 ;;\nesac\n");
    tool.close();
    tool.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    ScopedEnvironment environment;
    environment.set("PATH", bin.path().toUtf8() + ':' + qgetenv("PATH"));
    DesktopColorScheme desktop;
    EXPECT_EQ(desktop.prefersDark(), true);
    EXPECT_TRUE(pumpUntil([&] { return desktop.prefersDark() == false; }));
}

TEST(TrayIcon, ReadsOnLightAndDarkPanelsAndIsNamedWhereTheThemeHasIt)
{
    for (TrayState state : {TrayState::idle, TrayState::connected, TrayState::sharing}) {
        const QImage picture = trayPicture(state, 22);
        for (QColor panel : {QColor(Qt::white), QColor(Qt::black)}) {
            QImage shown(picture.size(), QImage::Format_ARGB32);
            shown.fill(panel);
            QPainter(&shown).drawImage(0, 0, picture);
            int distinct = 0;
            for (int y = 0; y < shown.height(); ++y)
                for (int x = 0; x < shown.width(); ++x)
                    distinct += std::abs(qGray(shown.pixel(x, y)) - qGray(panel.rgb())) > 128;
            EXPECT_GT(distinct, 25)
                << traySymbolName(state).toStdString() << " on " << panel.name().toStdString();
        }
    }

    QTemporaryDir themes;
    QDir hicolor(themes.filePath("hicolor"));
    ASSERT_TRUE(hicolor.mkpath("symbolic/apps"));
    QFile index(hicolor.filePath("index.theme"));
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=Hicolor\nDirectories=symbolic/apps\n\n"
                "[symbolic/apps]\nSize=16\nMinSize=8\nMaxSize=512\nType=Scalable\n");
    index.close();
    const QString name = traySymbolName(TrayState::connected);
    EXPECT_EQ(trayIcon(TrayState::connected).name(), QString()) << "not installed: no name";
    ASSERT_TRUE(QFile::copy(":/orvane/symbols/" + name + ".svg",
                            hicolor.filePath("symbolic/apps/" + name + ".svg")));
    QIcon::setThemeSearchPaths({themes.path()});
    QIcon::setThemeName("hicolor");
    EXPECT_EQ(trayIcon(TrayState::connected).name(), name);
}

} // namespace
} // namespace orvane::test
