#include "platform/linux/desktop/qt_pasteboard.h"
#include "test_support.h"
#include "xcb_selection.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcessEnvironment>
#include <QUrl>

#include <gtest/gtest.h>

#include <functional>

namespace orvane {
namespace {

using test::SelectionOwner;
using test::XcbClient;

// Text that would not survive a Latin-1 or UTF-16 slip: accents, CJK, an emoji
// outside the Basic Multilingual Plane, and a newline.
const QString mixedText = QStringLiteral("Grüße, 日本語 🙂\nzweite Zeile");

// Pumps Qt's event loop until the condition holds; false if it never does.
bool pumpUntil(const std::function<bool()>& condition)
{
    QDeadlineTimer deadline(30000);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Counts the clipboard's change notices, so a test can wait until Qt has
// heard that another client took or dropped the selection.
class ClipboardChanges {
public:
    ClipboardChanges()
    {
        m_connection = QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged,
                                        [this] { ++m_count; });
    }
    ~ClipboardChanges() { QObject::disconnect(m_connection); }
    bool waitForNext()
    {
        int seen = m_count;
        return pumpUntil([&] { return m_count > seen; });
    }

private:
    QMetaObject::Connection m_connection;
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

TEST(Pasteboard, SettingTextDropsEveryOtherRepresentation)
{
    auto* rich = new QMimeData;
    rich->setText(QStringLiteral("old"));
    rich->setHtml(QStringLiteral("<b>old</b>"));
    rich->setData(QStringLiteral("image/png"), QByteArray("\x89PNG", 4));
    QGuiApplication::clipboard()->setMimeData(rich, QClipboard::Clipboard);

    makeQtPasteboard()->setText(QStringLiteral("new"));
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    ASSERT_NE(data, nullptr);
    EXPECT_FALSE(data->hasHtml());
    EXPECT_FALSE(data->hasFormat(QStringLiteral("image/png")));
    EXPECT_EQ(data->text(), QStringLiteral("new"));
}

TEST(Pasteboard, HoldsNoTextWhenTheClipboardHasOnlyFilesOrImages)
{
    auto pasteboard = makeQtPasteboard();
    auto* files = new QMimeData;
    files->setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/report.pdf"))});
    QGuiApplication::clipboard()->setMimeData(files, QClipboard::Clipboard);
    EXPECT_EQ(pasteboard->text(), std::nullopt) << "a copied file is not text";

    auto* image = new QMimeData;
    image->setData(QStringLiteral("image/png"), QByteArray("\x89PNG", 4));
    QGuiApplication::clipboard()->setMimeData(image, QClipboard::Clipboard);
    EXPECT_EQ(pasteboard->text(), std::nullopt);
}

TEST(Pasteboard, WithoutAGuiApplicationThereIsNoClipboardAndNoCrash)
{
    auto output = test::runChild(QStringLiteral("clipboard-without-gui"),
                                 QProcessEnvironment::systemEnvironment());
    ASSERT_TRUE(output.has_value()) << "the child process failed or crashed";
    EXPECT_EQ(*output, QStringLiteral("none\nnone\n"));
}

// Another X client reads the CLIPBOARD selection as UTF8_STRING, the way an
// editor pastes: the text must really be on the X11 clipboard, not only in
// this process.
TEST(PasteboardOnX11, AnotherClientPastesOurText)
{
    ORVANE_REQUIRE_DISPLAY();
    XcbClient editor;
    ASSERT_TRUE(editor.connected());
    auto pasteboard = makeQtPasteboard();

    for (const QString& text : {mixedText, QStringLiteral("second; with \"quotes\"")}) {
        SCOPED_TRACE(text.toStdString());
        pasteboard->setText(text);
        EXPECT_NE(editor.selectionOwner("CLIPBOARD"), xcb_window_t(XCB_WINDOW_NONE));
        auto pasted = editor.convert("CLIPBOARD", "UTF8_STRING");
        ASSERT_TRUE(pasted.has_value()) << "our clipboard did not answer";
        EXPECT_EQ(*pasted, text.toStdString());
    }
}

// And the reverse: another client copies, and we read its text.
TEST(PasteboardOnX11, ReadsWhatAnotherClientCopied)
{
    ORVANE_REQUIRE_DISPLAY();
    auto pasteboard = makeQtPasteboard();
    pasteboard->setText(QStringLiteral("ours first"));
    ClipboardChanges changes;

    std::string copied = mixedText.toStdString();
    SelectionOwner editor({{"UTF8_STRING", copied}});
    ASSERT_TRUE(editor.start());
    ASSERT_TRUE(changes.waitForNext()) << "Qt never noticed the new owner";
    EXPECT_EQ(pasteboard->text(), mixedText);

    // The owner goes away without handing the text to anyone: nothing left.
    editor.stop();
    ASSERT_TRUE(changes.waitForNext()) << "Qt never noticed the owner leave";
    EXPECT_EQ(pasteboard->text(), std::nullopt);
}

TEST(PasteboardOnX11, AnotherClientsImageIsNoText)
{
    ORVANE_REQUIRE_DISPLAY();
    auto pasteboard = makeQtPasteboard();
    pasteboard->setText(QStringLiteral("ours first"));
    ClipboardChanges changes;

    SelectionOwner painter({{"image/png", std::string("\x89PNG\r\n", 6)}});
    ASSERT_TRUE(painter.start());
    ASSERT_TRUE(changes.waitForNext());
    EXPECT_EQ(pasteboard->text(), std::nullopt);
}

} // namespace
} // namespace orvane
