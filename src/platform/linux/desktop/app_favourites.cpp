#include "app_favourites.h"

#include "desktop_entry.h"

#include <QProcess>
#include <QStandardPaths>

namespace orvane {

namespace {

// gsettings answers in a few milliseconds; a hung one must not hold up the
// main thread for long.
constexpr int gsettingsTimeoutMs = 500;

class GVariantReader {
public:
    explicit GVariantReader(const QString& text) : m_text(text) {}

    std::optional<QStringList> stringArray()
    {
        skipSpace();
        if (m_text.mid(m_pos).startsWith(u"@as")) {
            m_pos += 3;
            skipSpace();
        }
        if (!take(u'['))
            return std::nullopt;
        QStringList items;
        skipSpace();
        if (!take(u']')) {
            do {
                skipSpace();
                auto item = quoted();
                if (!item)
                    return std::nullopt;
                items << *item;
                skipSpace();
            } while (take(u','));
            if (!take(u']'))
                return std::nullopt;
        }
        skipSpace();
        return m_pos == m_text.size() ? std::optional(items) : std::nullopt;
    }

private:
    void skipSpace()
    {
        while (m_pos < m_text.size() && m_text[m_pos].isSpace())
            ++m_pos;
    }

    bool take(QChar c)
    {
        if (m_pos < m_text.size() && m_text[m_pos] == c) {
            ++m_pos;
            return true;
        }
        return false;
    }

    std::optional<QString> quoted()
    {
        if (m_pos >= m_text.size() || (m_text[m_pos] != u'\'' && m_text[m_pos] != u'"'))
            return std::nullopt;
        const QChar quote = m_text[m_pos++];
        QString out;
        while (m_pos < m_text.size()) {
            const QChar c = m_text[m_pos++];
            if (c == quote)
                return out;
            if (c == u'\\' && m_pos < m_text.size())
                out += unescaped(m_text[m_pos++]);
            else
                out += c;
        }
        return std::nullopt; // unterminated
    }

    static QChar unescaped(QChar c)
    {
        switch (c.unicode()) {
        case 'n':
            return u'\n';
        case 't':
            return u'\t';
        case 'r':
            return u'\r';
        default:
            return c; // \\ \' \" and anything else stand for themselves
        }
    }

    const QString& m_text;
    qsizetype m_pos = 0;
};

} // namespace

std::optional<QStringList> parseGVariantStringArray(const QString& text)
{
    return GVariantReader(text).stringArray();
}

std::vector<QString> favouriteIds(const QString& gsettingsOutput)
{
    std::vector<QString> ids;
    const auto items = parseGVariantStringArray(gsettingsOutput);
    if (!items)
        return ids;
    for (QString item : *items) {
        if (item.endsWith(QStringLiteral(".desktop")))
            item.chop(8);
        if (isValidDesktopId(item))
            ids.push_back(item);
    }
    return ids;
}

std::vector<QString> readDesktopFavourites()
{
    const QString gsettings = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (gsettings.isEmpty())
        return {};
    QProcess process;
    process.start(gsettings, {QStringLiteral("get"), QStringLiteral("org.gnome.shell"),
                              QStringLiteral("favorite-apps")});
    if (!process.waitForFinished(gsettingsTimeoutMs)) {
        process.kill();
        process.waitForFinished(gsettingsTimeoutMs);
        return {};
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return {};
    return favouriteIds(QString::fromUtf8(process.readAllStandardOutput()));
}

} // namespace orvane
