#include "host_name.h"

#include <QFile>
#include <QSysInfo>

namespace orvane {
namespace {

// Reads KEY=VALUE lines the way systemd reads its environment files, since
// systemd is what writes /etc/machine-info: quotes may be single or double,
// a backslash escapes inside double quotes and in bare values, a backslash at
// the end of a line continues it, and '#' or ';' starts a comment line.
QByteArray envFileValue(const QByteArray& contents, const QByteArray& wantedKey)
{
    enum class State {
        PreKey,
        Key,
        PreValue,
        Value,
        ValueEscape,
        Single,
        Double,
        DoubleEscape,
        Comment
    };
    State state = State::PreKey;
    QByteArray key;
    QByteArray value;
    QByteArray result;
    bool found = false;
    // Length of `value` up to its last quoted or non-blank byte: unquoted
    // trailing blanks are dropped.
    qsizetype keep = 0;

    auto finish = [&] {
        if (key.trimmed() == wantedKey) {
            result = value.left(keep);
            found = true;
        }
        key.clear();
        value.clear();
        keep = 0;
        state = State::PreKey;
    };

    for (const char c : contents) {
        const bool space = c == ' ' || c == '\t' || c == '\r';
        switch (state) {
        case State::PreKey:
            if (c == '#' || c == ';')
                state = State::Comment;
            else if (!space && c != '\n') {
                key = QByteArray(1, c);
                state = State::Key;
            }
            break;
        case State::Key:
            if (c == '\n') {
                key.clear();
                state = State::PreKey;
            } else if (c == '=') {
                state = State::PreValue;
            } else {
                key += c;
            }
            break;
        case State::PreValue:
            if (c == '\n')
                finish();
            else if (c == '\'')
                state = State::Single;
            else if (c == '"')
                state = State::Double;
            else if (c == '\\')
                state = State::ValueEscape;
            else if (!space) {
                value += c;
                keep = value.size();
                state = State::Value;
            }
            break;
        case State::Value:
            if (c == '\n') {
                finish();
            } else if (c == '\\') {
                state = State::ValueEscape;
            } else if (c == '\'' || c == '"') {
                state = c == '\'' ? State::Single : State::Double;
            } else {
                value += c;
                if (!space)
                    keep = value.size();
            }
            break;
        case State::ValueEscape:
            if (c != '\n') {
                value += c;
                keep = value.size();
            }
            state = State::Value;
            break;
        case State::Single:
            if (c == '\'')
                state = State::Value;
            else {
                value += c;
                keep = value.size();
            }
            break;
        case State::Double:
            if (c == '"')
                state = State::Value;
            else if (c == '\\')
                state = State::DoubleEscape;
            else {
                value += c;
                keep = value.size();
            }
            break;
        case State::DoubleEscape:
            if (c == '"' || c == '\\' || c == '`' || c == '$') {
                value += c;
            } else if (c != '\n') {
                value += '\\';
                value += c;
            }
            keep = value.size();
            state = State::Double;
            break;
        case State::Comment:
            if (c == '\n')
                state = State::PreKey;
            break;
        }
    }
    // The last line may lack its newline, or even its closing quote.
    if (state != State::PreKey && state != State::Comment && state != State::Key)
        finish();
    return found ? result : QByteArray();
}

} // namespace

QString prettyHostnameFromMachineInfo(const QByteArray& contents)
{
    return QString::fromUtf8(envFileValue(contents, "PRETTY_HOSTNAME")).trimmed();
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
