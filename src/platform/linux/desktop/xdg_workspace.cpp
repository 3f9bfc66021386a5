#include "xdg_workspace.h"

#include "opener.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>

namespace orvane {

namespace {

const QString opener = QStringLiteral("xdg-open");

// Links and folders go to whatever the desktop has chosen as their handler,
// through xdg-utils. The argument is always handed over as one argv entry,
// never through a shell, so quotes, spaces and ';' in it mean nothing.
class XdgWorkspace final : public Workspace {
public:
    explicit XdgWorkspace(std::chrono::milliseconds openerWait) : m_openerWait(openerWait) {}

    void openUrl(const QUrl& url, Opened done) override
    {
        // A relative URL could read as an option ("--help") to xdg-open, and
        // means nothing to a browser anyway.
        if (url.isEmpty() || !url.isValid() || url.isRelative())
            return done(false);
        startOpener(opener, url.toString(QUrl::FullyEncoded), m_openerWait, std::move(done));
    }

    bool openEncodedUrl(const QByteArray& encoded) override
    {
        const bool printable =
            std::all_of(encoded.begin(), encoded.end(), [](char c) { return c > ' ' && c < 0x7f; });
        const QUrl url = QUrl::fromEncoded(encoded, QUrl::StrictMode);
        if (!printable || url.isEmpty() || !url.isValid() || url.isRelative())
            return false;
        return startOpener(opener, QString::fromLatin1(encoded), m_openerWait, nullptr);
    }

    void openFolder(const QString& path, Opened done) override
    {
        // Only absolute paths: a relative one would depend on where the server
        // happened to start, and an absolute one cannot be taken for an option.
        QFileInfo info(path);
        if (path.isEmpty() || info.isRelative() || !info.isDir())
            return done(false);
        startOpener(opener, QDir::cleanPath(info.absoluteFilePath()), m_openerWait,
                    std::move(done));
    }

    std::optional<QString> standardFolder(StandardFolder folder) override
    {
        auto type = locationOf(folder);
        if (!type)
            return std::nullopt;
        QString location = QStandardPaths::writableLocation(*type);
        if (location.isEmpty())
            return std::nullopt;
        // xdg-user-dirs records a folder the user does not want as $HOME
        // itself; that is no setting, and the caller's own fallback applies.
        if (QDir::cleanPath(location) == QDir::cleanPath(QDir::homePath()))
            return std::nullopt;
        return location;
    }

    QString homeDirectory() override { return QDir::homePath(); }

    bool startProcess(const QStringList& argv) override
    {
        if (argv.isEmpty() || argv.front().isEmpty())
            return false;
        // startDetached reports a program that cannot be executed (not found,
        // not executable) as false, because it waits for the exec in the child.
        return QProcess::startDetached(argv.front(), argv.mid(1));
    }

    QString configDirectory() override
    {
        // The folder the settings file Orvane.conf lives in.
        return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
               QStringLiteral("/Orvane");
    }

private:
    std::chrono::milliseconds m_openerWait;

    static std::optional<QStandardPaths::StandardLocation> locationOf(StandardFolder folder)
    {
        switch (folder) {
        case StandardFolder::downloads:
            return QStandardPaths::DownloadLocation;
        case StandardFolder::desktop:
            return QStandardPaths::DesktopLocation;
        case StandardFolder::documents:
            return QStandardPaths::DocumentsLocation;
        }
        return std::nullopt;
    }
};

} // namespace

std::unique_ptr<Workspace> makeXdgWorkspace(std::chrono::milliseconds openerWait)
{
    return std::make_unique<XdgWorkspace>(openerWait);
}

} // namespace orvane
