#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

namespace orvane {

enum class StandardFolder { downloads, desktop, documents };

// The desktop's handlers for links and folders, and the user's folders.
class Workspace {
public:
    // Told once whether the handler took what it was given: at once when it
    // was refused before anything started, else from the event loop.
    using Opened = std::function<void(bool opened)>;

    virtual ~Workspace() = default;
    // Hands the URL to the desktop's default handler.
    virtual void openUrl(const QUrl& url, Opened done) = 0;
    // Hands over a URL that must reach the handler byte for byte: QUrl
    // decodes escapes such as "%2D" back to "-", and some handlers, a search
    // link among them, take the text literally. False when it is no absolute
    // URL of printable ASCII or nothing could be started; the handler's own
    // answer is not waited for.
    virtual bool openEncodedUrl(const QByteArray& encoded) = 0;
    // Shows the folder in the file manager.
    virtual void openFolder(const QString& path, Opened done) = 0;
    // Where the user keeps these files, or nothing when the desktop has no
    // setting for it.
    virtual std::optional<QString> standardFolder(StandardFolder folder) = 0;
    virtual QString homeDirectory() = 0;
    // Starts a program detached, with these arguments and no shell.
    virtual bool startProcess(const QStringList& argv) = 0;
    // The folder of this program's own settings files.
    virtual QString configDirectory() = 0;
};

} // namespace orvane
