#include "desktop_entry.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

QStringList localeCandidates(const QString& posixLocale)
{
    if (posixLocale.isEmpty() || posixLocale == u"C" || posixLocale == u"POSIX")
        return {};
    QString rest = posixLocale;
    QString modifier;
    if (const qsizetype at = rest.indexOf(u'@'); at >= 0) {
        modifier = rest.mid(at + 1);
        rest.truncate(at);
    }
    if (const qsizetype dot = rest.indexOf(u'.'); dot >= 0)
        rest.truncate(dot); // the encoding plays no part in matching
    QString lang = rest;
    QString country;
    if (const qsizetype underscore = rest.indexOf(u'_'); underscore >= 0) {
        lang = rest.left(underscore);
        country = rest.mid(underscore + 1);
    }
    if (lang.isEmpty())
        return {};
    QStringList out;
    if (!country.isEmpty() && !modifier.isEmpty())
        out << lang + u'_' + country + u'@' + modifier;
    if (!country.isEmpty())
        out << lang + u'_' + country;
    if (!modifier.isEmpty())
        out << lang + u'@' + modifier;
    out << lang;
    return out;
}

QString messageLocale()
{
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return QString::fromLocal8Bit(value);
    }
    return {};
}

QString unescapeValue(const QString& raw)
{
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw[i];
        if (c != u'\\' || i + 1 == raw.size()) {
            out += c;
            continue;
        }
        const QChar next = raw[++i];
        switch (next.unicode()) {
        case 's':
            out += u' ';
            break;
        case 'n':
            out += u'\n';
            break;
        case 't':
            out += u'\t';
            break;
        case 'r':
            out += u'\r';
            break;
        case '\\':
            out += u'\\';
            break;
        default: // not a value escape: keep both for the Exec quoting rules
            out += c;
            out += next;
        }
    }
    return out;
}

namespace {

// Lines are looked at as bytes: entries carry dozens of translations of
// which we read one, and only the values we keep are decoded.
using Bytes = std::string_view;

Bytes trimmed(Bytes text)
{
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

QString decoded(Bytes value)
{
    return unescapeValue(QString::fromUtf8(value.data(), qsizetype(value.size())));
}

// The best localised Name seen so far: its rank in the locale list, where
// the plain key ranks after every locale.
struct LocalisedName {
    Bytes value;
    std::size_t rank = 0;
    bool found = false;
};

void offerName(LocalisedName& best, Bytes key, Bytes value, const std::vector<std::string>& locales)
{
    std::size_t rank = locales.size();
    if (key != "Name") {
        const Bytes locale = key.substr(5, key.size() - 6); // Name[...]
        rank = std::find(locales.begin(), locales.end(), locale) - locales.begin();
        if (rank == locales.size())
            return;
    }
    if (!best.found || rank < best.rank)
        best = {value, rank, true};
}

void assignKey(DesktopEntry& entry, Bytes key, Bytes value)
{
    if (key == "Type")
        entry.type = decoded(value);
    else if (key == "Exec")
        entry.exec = decoded(value);
    else if (key == "TryExec")
        entry.tryExec = decoded(value);
    else if (key == "Icon")
        entry.icon = decoded(value);
    else if (key == "StartupWMClass")
        entry.startupWMClass = decoded(value);
    else if (key == "Path")
        entry.workingDirectory = decoded(value);
    else if (key == "MimeType")
        entry.mimeTypes = decoded(value).split(u';', Qt::SkipEmptyParts);
    else if (key == "Hidden")
        entry.hidden = value == "true" || value == "1";
    else if (key == "NoDisplay")
        entry.noDisplay = value == "true" || value == "1";
}

bool isNameKey(Bytes key)
{
    return key == "Name" || (key.starts_with("Name[") && key.ends_with(']'));
}

} // namespace

std::optional<DesktopEntry> parseDesktopEntry(const QByteArray& content, const QStringList& locales)
{
    std::vector<std::string> localeBytes;
    for (const QString& locale : locales)
        localeBytes.push_back(locale.toStdString());
    const Bytes text(content.constData(), std::size_t(content.size()));
    DesktopEntry entry;
    LocalisedName name;
    bool inGroup = false;
    bool seenGroup = false;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const Bytes line = trimmed(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            if (inGroup)
                break; // the group ended; later groups are actions and such
            inGroup = line == "[Desktop Entry]";
            seenGroup = seenGroup || inGroup;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inGroup || equals == 0 || equals == Bytes::npos)
            continue;
        const Bytes key = trimmed(line.substr(0, equals));
        const Bytes value = trimmed(line.substr(equals + 1));
        if (isNameKey(key))
            offerName(name, key, value, localeBytes);
        else
            assignKey(entry, key, value);
    }
    if (!seenGroup)
        return std::nullopt;
    entry.name = decoded(name.value);
    return entry;
}

bool isValidDesktopId(const QString& id)
{
    if (id.isEmpty() || id.toUtf8().size() > 255)
        return false;
    if (id.contains(u'/') || id.contains(u"..") || id.startsWith(u'.'))
        return false;
    for (const QChar c : id) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false; // includes NUL
    }
    return true;
}

bool programExists(const QString& program)
{
    if (program.isEmpty())
        return false;
    if (program.contains(u'/')) {
        const QFileInfo info(program);
        return info.isAbsolute() && info.isFile() && info.isExecutable();
    }
    return !QStandardPaths::findExecutable(program).isEmpty();
}

} // namespace orvane
