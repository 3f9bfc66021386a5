#include "qt_pasteboard.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMimeData>
#include <QThread>

namespace orvane {

namespace {

// The CLIPBOARD selection (the one Ctrl+C and Ctrl+V use, not the primary
// selection of middle-click paste), through Qt's clipboard. On X11 Qt answers
// other clients' requests for our text from the event loop, so the text stays
// available for as long as the server runs and nobody else takes the clipboard.
class QtPasteboard final : public Pasteboard {
public:
    std::optional<QString> text() override
    {
        QClipboard* board = clipboard();
        if (!board)
            return std::nullopt;
        const QMimeData* data = board->mimeData(QClipboard::Clipboard);
        if (!data || !holdsPlainText(*data))
            return std::nullopt;
        return data->text();
    }

    // Qt on X11 takes the selection at once and knows whether it got it.
    bool setText(const QString& text) override
    {
        QClipboard* board = clipboard();
        if (!board)
            return false;
        board->setText(text, QClipboard::Clipboard);
        return board->ownsClipboard();
    }

private:
    // The clipboard exists only in a GUI application and may only be touched
    // from its thread; anywhere else there is no clipboard rather than a crash.
    static QClipboard* clipboard()
    {
        auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
        if (!app || QThread::currentThread() != app->thread())
            return nullptr;
        return QGuiApplication::clipboard();
    }

    // QMimeData::hasText() also says yes for a bare list of URLs (files copied
    // in a file manager); only a real plain-text representation counts here.
    static bool holdsPlainText(const QMimeData& data)
    {
        const QStringList formats = data.formats();
        for (const QString& format : formats) {
            if (format == QLatin1String("text/plain") ||
                format.startsWith(QLatin1String("text/plain;")))
                return true;
        }
        return false;
    }
};

} // namespace

std::unique_ptr<Pasteboard> makeQtPasteboard()
{
    return std::make_unique<QtPasteboard>();
}

} // namespace orvane
