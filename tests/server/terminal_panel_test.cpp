// The headless contract: scripts follow these exact lines, and the terminal
// answers a few typed commands.
#include "support/server_rig.h"

#include "ui/qr_text.h"
#include "ui/terminal_panel.h"

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <unistd.h>

namespace orvane::test {
namespace {

class Terminal : public ServerFixture {
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        ASSERT_EQ(::pipe(input), 0);
        output = std::tmpfile();
        terminal = std::make_unique<TerminalPanel>(*server, output, input[0]);
        server->setPairingPanel(terminal.get());
    }
    void TearDown() override
    {
        server->setPairingPanel(nullptr);
        terminal.reset();
        std::fclose(output);
        ::close(input[0]);
        ::close(input[1]);
    }

    QStringList lines()
    {
        std::fflush(output);
        std::rewind(output);
        QByteArray all;
        char buffer[4096];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, output))
            all.append(buffer, qsizetype(n));
        return QString::fromUtf8(all).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    void type(const char* text)
    {
        ASSERT_GT(::write(input[1], text, std::strlen(text)), 0);
        pumpUntil([&] { return false; }, 30); // the terminal's notifier fires
    }

    int input[2] = {-1, -1};
    std::FILE* output = nullptr;
    std::unique_ptr<TerminalPanel> terminal;
};

TEST_F(Terminal, PrintsThePairingLinesAndWarnings)
{
    auto phone = newPhone("Ada \"the\" \x1b[31mphone");
    phone->hello(false);
    QString code = server->status().pairingRequest()->code;
    QStringList out = lines();
    ASSERT_GE(out.size(), 2);
    // Controls went when the name arrived; quotes are masked on the line.
    EXPECT_EQ(out[0], QString::fromUtf8(
                          "orvane: pairing request from \"Ada \uFFFDthe\uFFFD [31mphone\" code ") +
                          code);
    EXPECT_EQ(out[1], QStringLiteral("orvane: pairing url ") + server->status().pairingUrl());

    phone->typeCode(wrongCode());
    EXPECT_TRUE(lines().contains(QStringLiteral("Wrong code. 2 attempts left.")));
    type("d\n");
    EXPECT_FALSE(server->status().pairingRequest());
    EXPECT_TRUE(lines().contains(QStringLiteral("orvane: pairing request closed")));

    // Each way a pairing ends has a line of its own.
    pair(*newPhone("Bo"));
    auto guesser = newPhone();
    guesser->hello(false);
    for (int i = 0; i < 3; ++i) {
        guesser->typeCode(wrongCode());
        guesser->takeReceived();
    }
    newPhone()->hello(false);
    clockMs += 5 * 60'000;
    server->pairing().tick();
    const QStringList ends = {QStringLiteral("orvane: pairing declined"),
                              QStringLiteral("orvane: paired with \"Bo\""),
                              QStringLiteral("orvane: pairing refused after three wrong codes"),
                              QStringLiteral("orvane: pairing timed out")};
    QStringList seen = lines();
    seen.removeIf([&](const QString& line) { return !ends.contains(line); });
    EXPECT_EQ(seen, ends);

    type("help\n");
    EXPECT_TRUE(lines().last().startsWith(QStringLiteral("  help ")));
    type("frobnicate\n");
    EXPECT_EQ(lines().last(),
              QStringLiteral("Unknown command \"frobnicate\". Type help for the list."));
}

TEST_F(Terminal, LiftsAPauseAndListsAndForgetsTrustedPhones)
{
    type("pair\n"); // lifting a pause that is not there
    EXPECT_EQ(lines().last(), QStringLiteral("Pairing is not paused."));
    pausePairing();
    type("pair\n");
    EXPECT_EQ(lines().last(), QStringLiteral("orvane: pairing pause lifted"));
    EXPECT_FALSE(server->status().pairingPaused());
    auto phone = newPhone("Kitchen");
    pair(*phone);
    type("devices\n");
    EXPECT_TRUE(lines().last().startsWith(QStringLiteral("orvane: trusted \"Kitchen\" ")));
    EXPECT_TRUE(lines().last().endsWith(QStringLiteral(" connected")));
    type("forget Nobody\n");
    EXPECT_EQ(server->status().trustedDevices().size(), 1u);
    type("forget Kitchen\n");
    EXPECT_TRUE(server->status().trustedDevices().empty());
    EXPECT_TRUE(pumpUntil([&] { return phone->closed(); }));
}

TEST_F(Terminal, FailuresShowAtOnceAndTheLogOnRequest)
{
    server->addActivity(QString::fromUtf8("⌘C"), QStringLiteral("Kitchen"), true);
    server->addActivity(QStringLiteral("Couldn't open\x1b[2J Files"),
                        QStringLiteral("Evil\u2028Phone"), false);
    // Only the failure is printed unasked, with controls taken out.
    EXPECT_EQ(lines().filter(QStringLiteral("activity")),
              QStringList{QStringLiteral("orvane: activity: EvilPhone: Couldn't open[2J Files "
                                         "(failed)")});
    type("log\n");
    QStringList log = lines().filter(QStringLiteral("orvane: log "));
    ASSERT_EQ(log.size(), 2);
    EXPECT_TRUE(log[0].endsWith(QStringLiteral(" Kitchen: Super+C"))); // newest last
    EXPECT_TRUE(log[1].endsWith(QStringLiteral(" Files (failed)")));
}

// The code as a terminal shows it, one pixel a module: cells the code does
// not colour itself take the terminal's own colours.
QImage asTerminalShowsIt(const std::string& qr, QRgb foreground, QRgb background)
{
    const QStringList rows =
        QString::fromStdString(qr).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QImage image(int(rows[0].size()), int(rows.size()) * 2, QImage::Format_RGB32);
    for (int y = 0; y < int(rows.size()); ++y) {
        QString row = rows[y];
        QRgb fg = foreground, bg = background;
        if (row.startsWith(QLatin1String(qrRowStart)) && row.endsWith(QLatin1String(qrRowEnd))) {
            row = row.mid(qsizetype(std::strlen(qrRowStart)));
            row.chop(qsizetype(std::strlen(qrRowEnd)));
            fg = qRgb(0, 0, 0);
            bg = qRgb(255, 255, 255);
        }
        for (int x = 0; x < int(row.size()) && x < image.width(); ++x) {
            const QChar c = row[x];
            const bool full = c == QChar(u'\u2588');
            image.setPixel(x, 2 * y, full || c == QChar(u'\u2580') ? fg : bg);
            image.setPixel(x, 2 * y + 1, full || c == QChar(u'\u2584') ? fg : bg);
        }
    }
    return image.scaled(image.size() * 8);
}

// The pairing link reads back from the terminal's code whether the terminal
// is dark or light.
TEST(QrText, ReadsBackOnDarkAndLightTerminals)
{
    const std::string url = "orvane://pair?v=1&m=Desk&c=012345&k=abcdefghijklmnopqrstuv";
    const std::string qr = qrCodeAsText(url);
    QTemporaryDir dir;
    for (const auto& [fg, bg] : {std::pair{qRgb(230, 230, 230), qRgb(20, 20, 20)},
                                 std::pair{qRgb(20, 20, 20), qRgb(250, 250, 250)}}) {
        const QString file = dir.filePath(QStringLiteral("qr.png"));
        ASSERT_TRUE(asTerminalShowsIt(qr, fg, bg).save(file));
        QProcess zbar;
        zbar.start(QStringLiteral("zbarimg"),
                   {QStringLiteral("--raw"), QStringLiteral("-q"), file});
        ASSERT_TRUE(zbar.waitForFinished(10'000)) << "zbarimg (zbar-tools) is missing";
        EXPECT_EQ(zbar.readAllStandardOutput().trimmed().toStdString(), url) << qAlpha(bg);
    }
    EXPECT_TRUE(qrCodeAsText("").empty());
}

} // namespace
} // namespace orvane::test
