#include "desktop_entry_index.h"

#include "desktop_entry.h"
#include "exec_line.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <sys/stat.h>

namespace orvane {

namespace {

constexpr int maxFolderDepth = 8;             // guards against symlink loops
constexpr qint64 maxEntryBytes = 1024 * 1024; // real entries are a few KiB
const QString desktopSuffix = QStringLiteral(".desktop");

QString environmentValue(const char* name)
{
    return QString::fromLocal8Bit(qgetenv(name));
}

std::int64_t modificationTime(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return std::int64_t(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
}

std::optional<QByteArray> readSmallFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxEntryBytes)
        return std::nullopt;
    return file.read(maxEntryBytes);
}

bool isLaunchable(const DesktopEntry& entry)
{
    return entry.type == u"Application" && !entry.hidden && !entry.noDisplay &&
           !entry.name.isEmpty() && (entry.tryExec.isEmpty() || programExists(entry.tryExec));
}

} // namespace

QStringList dataFolders()
{
    // Relative folders in these variables are invalid and ignored.
    QStringList folders;
    QString dataHome = environmentValue("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    if (QDir::isAbsolutePath(dataHome))
        folders << dataHome;
    QString dataDirs = environmentValue("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString& dir : dataDirs.split(u':', Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(dir))
            folders << dir;
    }
    return folders;
}

QStringList applicationFolders()
{
    QStringList folders = dataFolders();
    for (QString& folder : folders)
        folder += QStringLiteral("/applications");
    return folders;
}

QString desktopFileId(const QString& relativePath)
{
    QString id = relativePath;
    id.replace(u'/', u'-');
    return id;
}

const std::vector<IndexedApp>& DesktopEntryIndex::apps()
{
    QStringList environment = applicationFolders();
    environment << messageLocale() << environmentValue("PATH");
    if (!isCurrent(environment))
        rescan(environment);
    return m_apps;
}

const IndexedApp* DesktopEntryIndex::find(const QString& bundleID)
{
    if (!isValidDesktopId(bundleID))
        return nullptr;
    apps();
    const auto found = m_byId.constFind(bundleID);
    return found == m_byId.constEnd() ? nullptr : &m_apps[*found];
}

bool DesktopEntryIndex::isCurrent(const QStringList& environment) const
{
    if (!m_scanned || environment != m_signature.environment)
        return false;
    for (const auto& [folder, time] : m_signature.folderTimes) {
        if (modificationTime(folder) != time)
            return false;
    }
    return true;
}

void DesktopEntryIndex::rescan(const QStringList& environment)
{
    m_apps.clear();
    m_byId.clear();
    m_signature = {environment, {}};
    m_locales = localeCandidates(messageLocale());
    QSet<QString> seen;
    for (const QString& root : applicationFolders())
        scanFolder(root, QString(), 0, seen);
    m_scanned = true;
}

void DesktopEntryIndex::scanFolder(const QString& root, const QString& relative, int depth,
                                   QSet<QString>& seen)
{
    const QString folder = relative.isEmpty() ? root : root + u'/' + relative;
    m_signature.folderTimes.emplace_back(folder, modificationTime(folder));
    const QDir dir(folder);
    const QString prefix = relative.isEmpty() ? QString() : relative + u'/';
    for (const QString& file :
         dir.entryList({QStringLiteral("*.desktop")}, QDir::Files, QDir::Name)) {
        const QString id = desktopFileId(prefix + file);
        if (seen.contains(id))
            continue; // an earlier folder owns this id, hidden or not
        seen.insert(id);
        addFile(folder + u'/' + file, id);
    }
    if (depth >= maxFolderDepth)
        return;
    for (const QString& sub : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        scanFolder(root, prefix + sub, depth + 1, seen);
}

void DesktopEntryIndex::addFile(const QString& path, const QString& id)
{
    const QString bundleID = id.chopped(desktopSuffix.size());
    if (!isValidDesktopId(bundleID))
        return;
    const auto content = readSmallFile(path);
    const auto entry = content ? parseDesktopEntry(*content, m_locales) : std::nullopt;
    if (!entry || !isLaunchable(*entry))
        return;
    const auto argv = parseExecLine(entry->exec, {entry->icon, entry->name, path});
    if (!argv)
        return;
    IndexedApp app;
    app.app = {bundleID, entry->name, QFileInfo(path).completeBaseName(), path};
    app.argv = *argv;
    app.programName = execProgramName(*argv);
    app.icon = entry->icon;
    app.startupWMClass = entry->startupWMClass;
    app.workingDirectory = entry->workingDirectory;
    app.mimeTypes = entry->mimeTypes;
    m_byId.insert(bundleID, m_apps.size());
    m_apps.push_back(std::move(app));
}

} // namespace orvane
