#include "platform/linux/desktop/qt_pasteboard.h"
#include "support/pump.h"
#include "support/x_test_client.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QUrl>

namespace orvane {
namespace {

using test::SelectionOwner;

// Text that would not survive a Latin-1 or UTF-16 slip: accents, CJK, an emoji
// outside the Basic Multilingual Plane, and a newline.
const QString mixedText = QStringLiteral("Grüße, 日本語 🙂\nzweite Zeile");

// The X tests: Qt on the test display, and the clipboard's change notices
// counted, so a test can wait until Qt has heard that another client took
// or dropped the selection.
class PasteboardOnX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::displayProvided());
        ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "Qt is not on the test display";
        m_changes = QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged,
                                     [this] { ++m_count; });
    }
    void TearDown() override { QObject::disconnect(m_changes); }
    bool nextChange()
    {
        const int seen = m_count;
        return test::pumpUntil([&] { return m_count > seen; }, 20000);
    }

    std::unique_ptr<Pasteboard> m_pasteboard = makeQtPasteboard();
    QMetaObject::Connection m_changes;
    int m_count = 0;
};

TEST(Pasteboard, GivesBackExactlyTheTextItWasGiven)
{
    auto pasteboard = makeQtPasteboard();
    QString large;
    large.reserve(1 << 20);
    for (int i = 0; large.size() < (1 << 20); ++i)
        large += QString::number(i) + QLatin1Char(i % 7 ? ' ' : '\n');
    large.truncate(1 << 20);

    for (const QString& text : {QString(), QStringLiteral("plain"), mixedText, large}) {
        SCOPED_TRACE(text.left(40).toStdString());
        pasteboard->setText(text);
        auto back = pasteboard->text();
        ASSERT_TRUE(back.has_value()) << "an empty text is still text";
        EXPECT_EQ(back->size(), text.size());
        EXPECT_TRUE(*back == text);
    }
}

// A copied file or image is not text; setting text drops every other
// representation.
TEST(Pasteboard, HoldsNoTextBesideFilesOrImagesAndSettingTextDropsThem)
{
    auto pasteboard = makeQtPasteboard();
    auto* files = new QMimeData;
    files->setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/report.pdf"))});
    auto* image = new QMimeData;
    image->setHtml(QStringLiteral("<b>old</b>"));
    image->setData(QStringLiteral("image/png"), QByteArray("\x89PNG", 4));
    for (QMimeData* data : {files, image}) {
        QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
        EXPECT_EQ(pasteboard->text(), std::nullopt) << data->formats().join(' ').toStdString();
    }

    pasteboard->setText(QStringLiteral("new"));
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    ASSERT_NE(data, nullptr);
    EXPECT_FALSE(data->hasHtml());
    EXPECT_FALSE(data->hasFormat(QStringLiteral("image/png")));
    EXPECT_EQ(data->text(), QStringLiteral("new"));
}

TEST(Pasteboard, WithoutAGuiApplicationThereIsNoClipboardAndNoCrash)
{
    // This program again, as a process with no GUI application (main.cpp).
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {"--child", "clipboard-without-gui"});
    ASSERT_TRUE(child.waitForFinished(20000) && child.exitStatus() == QProcess::NormalExit &&
                child.exitCode() == 0)
        << "the child process failed or crashed";
    EXPECT_EQ(child.readAllStandardOutput(), "refused none\nrefused none\n");
}

// Another X client reads the CLIPBOARD selection as UTF8_STRING, the way an
// editor pastes: the text must really be on the X11 clipboard, not only in
// this process.
TEST_F(PasteboardOnX11, AnotherClientPastesOurText)
{
    test::XTestClient editor;
    ASSERT_TRUE(editor.open());
    for (const QString& text : {mixedText, QStringLiteral("second; with \"quotes\"")}) {
        SCOPED_TRACE(text.toStdString());
        EXPECT_TRUE(m_pasteboard->setText(text));
        EXPECT_NE(editor.selectionOwner("CLIPBOARD"), xcb_window_t(XCB_WINDOW_NONE));
        EXPECT_EQ(editor.paste("CLIPBOARD", "UTF8_STRING"), text.toStdString());
    }
}

// And the reverse: another client copies, and we read its text, but not its
// image; when it goes away without handing the text to anyone, nothing is
// left.
TEST_F(PasteboardOnX11, ReadsTheTextAnotherClientCopied)
{
    m_pasteboard->setText(QStringLiteral("ours first"));
    SelectionOwner painter({{"image/png", std::string("\x89PNG\r\n", 6)}});
    ASSERT_TRUE(painter.start());
    ASSERT_TRUE(nextChange()) << "Qt never noticed the new owner";
    EXPECT_EQ(m_pasteboard->text(), std::nullopt);

    SelectionOwner editor({{"UTF8_STRING", mixedText.toStdString()}});
    ASSERT_TRUE(editor.start());
    ASSERT_TRUE(nextChange()) << "Qt never noticed the new owner";
    EXPECT_EQ(m_pasteboard->text(), mixedText);
    editor.stop();
    ASSERT_TRUE(nextChange()) << "Qt never noticed the owner leave";
    EXPECT_EQ(m_pasteboard->text(), std::nullopt);
}

} // namespace
} // namespace orvane
