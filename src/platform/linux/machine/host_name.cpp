#include "host_name.h"

#include <QFile>
#include <QSysInfo>

namespace orvane {
namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// Reads KEY=VALUE lines the way systemd reads its environment files, since
// systemd is what writes /etc/machine-info: quotes may be single or double,
// a backslash escapes inside double quotes and in bare values, a backslash at
// the end of a line continues it, and '#' or ';' starts a comment line.
class EnvFileReader {
public:
    explicit EnvFileReader(QByteArray wantedKey) : m_wantedKey(std::move(wantedKey)) {}

    // The last value of the wanted key, or empty.
    QByteArray read(const QByteArray& contents)
    {
        for (const char c : contents)
            feed(c);
        // The last line may lack its newline, or even its closing quote.
        if (m_state != State::preKey && m_state != State::comment && m_state != State::key)
            finish();
        return m_found ? m_result : QByteArray();
    }

private:
    enum class State {
        preKey,
        key,
        preValue,
        value,
        valueEscape,
        singleQuoted,
        doubleQuoted,
        doubleQuotedEscape,
        comment
    };

    void feed(char c)
    {
        switch (m_state) {
        case State::preKey:
            return onPreKey(c);
        case State::key:
            return onKey(c);
        case State::preValue:
            return onPreValue(c);
        case State::value:
            return onValue(c);
        case State::valueEscape:
            if (c != '\n')
                keep(c);
            m_state = State::value;
            return;
        case State::singleQuoted:
            if (c == '\'')
                m_state = State::value;
            else
                keep(c);
            return;
        case State::doubleQuoted:
            return onDoubleQuoted(c);
        case State::doubleQuotedEscape:
            return onDoubleQuotedEscape(c);
        case State::comment:
            if (c == '\n')
                m_state = State::preKey;
            return;
        }
    }

    void onPreKey(char c)
    {
        if (c == '#' || c == ';') {
            m_state = State::comment;
        } else if (!isBlank(c) && c != '\n') {
            m_key = QByteArray(1, c);
            m_state = State::key;
        }
    }

    void onKey(char c)
    {
        if (c == '\n') {
            m_key.clear();
            m_state = State::preKey;
        } else if (c == '=') {
            m_state = State::preValue;
        } else {
            m_key += c;
        }
    }

    void onPreValue(char c)
    {
        if (c == '\n' || c == '\'' || c == '"' || c == '\\')
            return onValue(c);
        if (!isBlank(c)) {
            keep(c);
            m_state = State::value;
        }
    }

    void onValue(char c)
    {
        if (c == '\n')
            finish();
        else if (c == '\\')
            m_state = State::valueEscape;
        else if (c == '\'')
            m_state = State::singleQuoted;
        else if (c == '"')
            m_state = State::doubleQuoted;
        else if (isBlank(c))
            m_value += c;
        else
            keep(c);
    }

    void onDoubleQuoted(char c)
    {
        if (c == '"')
            m_state = State::value;
        else if (c == '\\')
            m_state = State::doubleQuotedEscape;
        else
            keep(c);
    }

    void onDoubleQuotedEscape(char c)
    {
        if (c == '"' || c == '\\' || c == '`' || c == '$') {
            m_value += c;
        } else if (c != '\n') {
            m_value += '\\';
            m_value += c;
        }
        m_kept = m_value.size();
        m_state = State::doubleQuoted;
    }

    // A byte that stays even at the end of the value: quoted, escaped or
    // not blank. Unquoted trailing blanks are dropped.
    void keep(char c)
    {
        m_value += c;
        m_kept = m_value.size();
    }

    void finish()
    {
        if (m_key.trimmed() == m_wantedKey) {
            m_result = m_value.left(m_kept);
            m_found = true;
        }
        m_key.clear();
        m_value.clear();
        m_kept = 0;
        m_state = State::preKey;
    }

    QByteArray m_wantedKey;
    State m_state = State::preKey;
    QByteArray m_key;
    QByteArray m_value;
    qsizetype m_kept = 0; // length of the value up to its last kept byte
    QByteArray m_result;
    bool m_found = false;
};

} // namespace

QString prettyHostnameFromMachineInfo(const QByteArray& contents)
{
    return QString::fromUtf8(EnvFileReader("PRETTY_HOSTNAME").read(contents)).trimmed();
}

QString hostComputerName()
{
    // hostnamed serves the same file over D-Bus, but it is often not running
    // (containers, minimal installs) and reading the file needs no bus.
    QFile machineInfo(QStringLiteral("/etc/machine-info"));
    if (machineInfo.open(QIODevice::ReadOnly)) {
        const QString pretty = prettyHostnameFromMachineInfo(machineInfo.read(64 * 1024));
        if (!pretty.isEmpty())
            return pretty;
    }
    const QString host = QSysInfo::machineHostName().trimmed();
    if (!host.isEmpty())
        return host;
    return QStringLiteral("Mac");
}

} // namespace orvane
