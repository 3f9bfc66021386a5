// The headless contract: scripts follow these exact lines, and the terminal
// answers a few typed commands.
#include "support/server_rig.h"

#include "ui/qr_text.h"
#include "ui/terminal_panel.h"

#include <QStringList>

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
    QString code = server->pairingRequest()->code;
    QStringList out = lines();
    ASSERT_GE(out.size(), 2);
    // Controls went when the name arrived; quotes are masked on the line.
    EXPECT_EQ(out[0], QString::fromUtf8(
                          "orvane: pairing request from \"Ada \uFFFDthe\uFFFD [31mphone\" code ") +
                          code);
    EXPECT_EQ(out[1], QStringLiteral("orvane: pairing url ") + server->pairingUrl());

    phone->typeCode(wrongCode());
    EXPECT_TRUE(lines().contains(QStringLiteral("Wrong code. 2 attempts left.")));
    type("d\n");
    EXPECT_FALSE(server->pairingRequest());
    EXPECT_EQ(lines().last(), QStringLiteral("orvane: pairing request closed"));
}

TEST_F(Terminal, ListsAndForgetsTrustedPhones)
{
    type("pair\n"); // lifting a pause that is not there
    EXPECT_EQ(lines().last(), QStringLiteral("Pairing is not paused."));
    auto phone = newPhone("Kitchen");
    pair(*phone);
    type("devices\n");
    EXPECT_TRUE(lines().last().startsWith(QStringLiteral("orvane: trusted \"Kitchen\" ")));
    EXPECT_TRUE(lines().last().endsWith(QStringLiteral(" connected")));
    type("forget Nobody\n");
    EXPECT_EQ(server->trustedDevices().size(), 1u);
    type("forget Kitchen\n");
    EXPECT_TRUE(server->trustedDevices().empty());
    EXPECT_TRUE(pumpUntil([&] { return phone->closed(); }));
}

TEST_F(Terminal, FailuresShowAtOnceAndTheLogOnRequest)
{
    server->addActivity(QStringLiteral("Opening Files"), QStringLiteral("Kitchen"), true);
    server->addActivity(QStringLiteral("Couldn't open\x1b[2J Files"),
                        QStringLiteral("Evil\u2028Phone"), false);
    // Only the failure is printed unasked, with controls taken out.
    EXPECT_EQ(lines().filter(QStringLiteral("activity")),
              QStringList{QStringLiteral("orvane: activity: EvilPhone: Couldn't open[2J Files "
                                         "(failed)")});
    type("log\n");
    QStringList log = lines().filter(QStringLiteral("orvane: log "));
    ASSERT_EQ(log.size(), 2);
    EXPECT_TRUE(log[0].endsWith(QStringLiteral(" Kitchen: Opening Files"))); // newest last
    EXPECT_TRUE(log[1].endsWith(QStringLiteral(" Files (failed)")));
}

TEST(QrText, DrawsTwoModulesPerRowWithAQuietZone)
{
    std::string qr = qrCodeAsText("orvane://pair?v=1&m=Desk&c=012345&k=abcdefghijklmnopqrstuv");
    QStringList rows = QString::fromStdString(qr).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_FALSE(rows.isEmpty());
    int width = int(rows[0].size());
    EXPECT_EQ(width % 2, 1); // an odd module count (21 + 4k) plus the quiet zones
    EXPECT_EQ(rows.size(), (width + 1) / 2);
    for (const QString& row : rows)
        EXPECT_EQ(row.size(), width);
    EXPECT_TRUE(rows[0].count(QChar(u'\u2588')) == width); // the light quiet zone on top
    EXPECT_TRUE(qrCodeAsText("").empty());
}

} // namespace
} // namespace orvane::test
