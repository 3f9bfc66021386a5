#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

namespace orvane {

// What the XDG mimeapps.list files say about one MIME type, as desktop-file
// ids ("org.gnome.Rhythmbox3.desktop"), most important file first.
struct MimeAssociations {
    QStringList defaults;  // [Default Applications]: the user's choice comes first
    QStringList added;     // [Added Associations]
    QSet<QString> removed; // [Removed Associations]: never offered for the type
};

// The mimeapps.list files in lookup order: for the config folders and then
// the applications folders of the data folders, the desktop-specific file
// ($XDG_CURRENT_DESKTOP, lower case) before the general one.
QStringList mimeAppsFiles();

MimeAssociations mimeAssociations(const QString& mimeType);

} // namespace orvane
