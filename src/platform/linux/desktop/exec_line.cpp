#include "exec_line.h"

#include <QFileInfo>

namespace orvane {

namespace {

// Characters a backslash escapes inside double quotes.
bool isQuotedEscape(QChar c)
{
    return c == u'"' || c == u'`' || c == u'$' || c == u'\\';
}

bool isDroppedFieldCode(QChar c)
{
    // Files and URLs (we open none), and the deprecated codes.
    return QStringView(u"fFuUdDnNvm").contains(c);
}

class ExecSplitter {
public:
    ExecSplitter(const QString& exec, const ExecFields& fields) : m_exec(exec), m_fields(fields) {}

    std::optional<QStringList> split()
    {
        for (m_pos = 0; m_pos < m_exec.size(); ++m_pos) {
            if (!step())
                return std::nullopt;
        }
        if (m_quote != Quote::None)
            return std::nullopt;
        endArgument();
        // A quoted "" or an empty %c first names no program at all.
        if (m_args.isEmpty() || m_args.first().isEmpty())
            return std::nullopt;
        return m_args;
    }

private:
    enum class Quote { None, Double, Single };

    bool step()
    {
        const QChar c = m_exec[m_pos];
        if (c == u'%')
            return fieldCode();
        switch (m_quote) {
        case Quote::Double:
            return doubleQuoted(c);
        case Quote::Single:
            return singleQuoted(c);
        case Quote::None:
            break;
        }
        if (c == u' ' || c == u'\t' || c == u'\n') {
            endArgument();
        } else if (c == u'"' || c == u'\'') {
            m_quote = c == u'"' ? Quote::Double : Quote::Single;
            m_literal = true;
        } else if (c == u'\\') {
            // Not valid outside quotes, but launchers take it as an escape.
            if (++m_pos == m_exec.size())
                return false;
            append(m_exec[m_pos]);
        } else {
            append(c);
        }
        return true;
    }

    bool doubleQuoted(QChar c)
    {
        if (c == u'"') {
            m_quote = Quote::None;
        } else if (c == u'\\' && m_pos + 1 < m_exec.size() && isQuotedEscape(m_exec[m_pos + 1])) {
            append(m_exec[++m_pos]);
        } else {
            append(c);
        }
        return true;
    }

    // Single quotes are not in the format, but entries use them and desktop
    // launchers honour them as a shell would: everything literal.
    bool singleQuoted(QChar c)
    {
        if (c == u'\'')
            m_quote = Quote::None;
        else
            append(c);
        return true;
    }

    bool fieldCode()
    {
        if (++m_pos == m_exec.size())
            return false;
        const QChar code = m_exec[m_pos];
        if (isDroppedFieldCode(code))
            return true;
        switch (code.unicode()) {
        case '%':
            append(u'%');
            return true;
        case 'c':
            append(m_fields.name);
            return true;
        case 'k':
            append(m_fields.entryPath);
            return true;
        case 'i':
            return iconCode();
        default:
            return false;
        }
    }

    // %i stands for two arguments, so it must stand on its own.
    bool iconCode()
    {
        if (m_literal || m_quote != Quote::None)
            return false;
        if (!m_fields.icon.isEmpty())
            m_args << QStringLiteral("--icon") << m_fields.icon;
        return true;
    }

    void append(QChar c)
    {
        m_current += c;
        m_literal = true;
    }

    void append(const QString& text)
    {
        m_current += text;
        m_literal = true;
    }

    // An argument made only of dropped field codes disappears; a quoted
    // empty argument stays.
    void endArgument()
    {
        if (m_literal)
            m_args << m_current;
        m_current.clear();
        m_literal = false;
    }

    const QString& m_exec;
    const ExecFields& m_fields;
    qsizetype m_pos = 0;
    Quote m_quote = Quote::None;
    QString m_current;
    bool m_literal = false;
    QStringList m_args;
};

} // namespace

std::optional<QStringList> parseExecLine(const QString& exec, const ExecFields& fields)
{
    return ExecSplitter(exec, fields).split();
}

QString execProgramName(const QStringList& argv)
{
    qsizetype i = 0;
    if (i < argv.size() && QFileInfo(argv[i]).fileName() == u"env") {
        ++i;
        while (i < argv.size() && argv[i].contains(u'=') && !argv[i].startsWith(u'-'))
            ++i;
    }
    return i < argv.size() ? QFileInfo(argv[i]).fileName() : QString();
}

} // namespace orvane
