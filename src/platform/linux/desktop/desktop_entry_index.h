#pragma once

#include "platform/application_catalog.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <utility>
#include <vector>

namespace orvane {

// An installed application with what launching and matching it needs.
struct IndexedApp {
    InstalledApp app;
    QStringList argv;       // the Exec line, field codes expanded
    QString programName;    // file name of the program argv runs
    QString icon;           // a theme icon name or an absolute path
    QString startupWMClass; // empty when the entry gives none
    QString workingDirectory;
    QStringList mimeTypes;
};

// The data folders in lookup order: $XDG_DATA_HOME, then $XDG_DATA_DIRS.
QStringList dataFolders();
// The applications folder of each data folder.
QStringList applicationFolders();

// The desktop-file id of a file below an applications folder:
// "sub/dir/foo.desktop" gives "sub-dir-foo.desktop".
QString desktopFileId(const QString& relativePath);

// All launchable desktop entries, the first file found for an id winning even
// when it hides the entry. Rescans only when a scanned folder, the locale or
// the environment changed.
class DesktopEntryIndex {
public:
    const std::vector<IndexedApp>& apps();
    const IndexedApp* find(const QString& bundleID);

private:
    struct Signature {
        QStringList environment; // folders, locale, PATH
        std::vector<std::pair<QString, std::int64_t>> folderTimes;
        bool operator==(const Signature&) const = default;
    };

    bool isCurrent(const QStringList& environment) const;
    void rescan(const QStringList& environment);
    void scanFolder(const QString& root, const QString& relative, int depth, QSet<QString>& seen);
    void addFile(const QString& path, const QString& id);

    bool m_scanned = false;
    Signature m_signature;
    QStringList m_locales;
    std::vector<IndexedApp> m_apps;
    QHash<QString, std::size_t> m_byId;
};

} // namespace orvane
