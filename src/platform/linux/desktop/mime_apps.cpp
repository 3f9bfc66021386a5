#include "mime_apps.h"

#include "desktop_entry.h"
#include "desktop_entry_index.h"

#include <QDir>
#include <QFile>

namespace orvane {

namespace {

constexpr qint64 maxListBytes = 1024 * 1024;

QStringList configFolders()
{
    QStringList folders;
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.isEmpty())
        configHome = QDir::homePath() + QStringLiteral("/.config");
    if (QDir::isAbsolutePath(configHome))
        folders << configHome;
    QString configDirs = qEnvironmentVariable("XDG_CONFIG_DIRS");
    if (configDirs.isEmpty())
        configDirs = QStringLiteral("/etc/xdg");
    for (const QString& dir : configDirs.split(u':', Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(dir))
            folders << dir;
    }
    return folders;
}

QStringList desktopNames()
{
    QStringList names;
    for (const QString& name :
         qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts)) {
        if (!name.contains(u'/') && !name.contains(u".."))
            names << name.toLower();
    }
    return names;
}

// The ids of `key` in every group of one file, each group's list in order.
void readList(const QString& path, const QString& key, MimeAssociations& out)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxListBytes)
        return;
    QString group;
    for (const QByteArray& raw : file.read(maxListBytes).split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(u'[')) {
            group = line;
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0 || line.left(equals).trimmed() != key)
            continue;
        const QStringList ids =
            unescapeValue(line.mid(equals + 1).trimmed()).split(u';', Qt::SkipEmptyParts);
        if (group == u"[Default Applications]")
            out.defaults << ids;
        else if (group == u"[Added Associations]")
            out.added << ids;
        else if (group == u"[Removed Associations]")
            out.removed.unite(QSet<QString>(ids.begin(), ids.end()));
    }
}

} // namespace

QStringList mimeAppsFiles()
{
    QStringList folders = configFolders();
    for (const QString& folder : applicationFolders())
        folders << folder;
    const QStringList desktops = desktopNames();
    QStringList files;
    for (const QString& folder : folders) {
        for (const QString& desktop : desktops)
            files << folder + u'/' + desktop + QStringLiteral("-mimeapps.list");
        files << folder + QStringLiteral("/mimeapps.list");
    }
    return files;
}

MimeAssociations mimeAssociations(const QString& mimeType)
{
    MimeAssociations associations;
    for (const QString& path : mimeAppsFiles())
        readList(path, mimeType, associations);
    return associations;
}

} // namespace orvane
