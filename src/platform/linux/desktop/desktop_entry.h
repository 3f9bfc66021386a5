#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace orvane {

// The keys of a desktop entry's [Desktop Entry] group that the launcher uses,
// string values already unescaped and Name already localised.
struct DesktopEntry {
    QString type;
    QString name;
    QString exec;
    QString tryExec;
    QString icon;
    QString startupWMClass;
    QString workingDirectory; // the Path key
    QStringList mimeTypes;    // the types it opens
    bool hidden = false;
    bool noDisplay = false;
};

// The locale names to try for a localised key, most specific first, from a
// POSIX locale such as "de_AT.UTF-8@euro": de_AT@euro, de_AT, de@euro, de.
QStringList localeCandidates(const QString& posixLocale);
// The message locale from LC_ALL, LC_MESSAGES or LANG, the first one set.
QString messageLocale();

// Undoes the string escapes of a value: \s \n \t \r \\.
QString unescapeValue(const QString& raw);

// Reads the [Desktop Entry] group; nothing when the file has no such group.
std::optional<DesktopEntry> parseDesktopEntry(const QByteArray& content,
                                              const QStringList& locales);

// Whether an identifier that came from outside may name a desktop entry:
// no path separators, no "..", no control characters, at most 255 bytes.
bool isValidDesktopId(const QString& id);

// Whether TryExec names a program that exists: an absolute executable file,
// or a name found in PATH.
bool programExists(const QString& program);

} // namespace orvane
