#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace orvane {

enum class StandardFolder { downloads, desktop, documents };

// The desktop's handlers for links and folders, and the user's folders.
class Workspace {
public:
    virtual ~Workspace() = default;
    // Hands the URL to the desktop's default handler; false when refused.
    virtual bool openUrl(const QUrl& url) = 0;
    // The same for a URL that must reach the handler byte for byte: QUrl
    // decodes escapes such as "%2D" back to "-", and some handlers, a search
    // link among them, take the text literally. False when it is no absolute
    // URL of printable ASCII, or when refused.
    virtual bool openEncodedUrl(const QByteArray& encoded) = 0;
    // Shows the folder in the file manager; false when refused.
    virtual bool openFolder(const QString& path) = 0;
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
