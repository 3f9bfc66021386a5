#include "app_process.h"

#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace orvane {

bool isSignallablePid(std::int32_t pid)
{
    return pid > 1 && pid != ::getpid();
}

std::optional<std::uint64_t> parseStartTime(const QByteArray& stat)
{
    // "pid (comm) state ppid ..." where comm may hold spaces and parentheses,
    // so the fields are counted from the last ')'. The start time is field
    // 22, the 20th after comm.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat.mid(close + 1).simplified().split(' ');
    if (fields.size() < 20 || fields[0] == "Z" || fields[0] == "X")
        return std::nullopt;
    bool ok = false;
    const std::uint64_t start = fields[19].toULongLong(&ok);
    return ok ? std::optional(start) : std::nullopt;
}

std::optional<std::uint64_t> processStartTime(std::int32_t pid)
{
    if (pid <= 0)
        return std::nullopt;
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return parseStartTime(file.read(4096));
}

QStringList processExecutableNames(std::int32_t pid)
{
    QStringList names;
    if (pid <= 0)
        return names;
    const QString base = QStringLiteral("/proc/%1/").arg(pid);
    QString exe = QFileInfo(base + QStringLiteral("exe")).symLinkTarget();
    if (exe.endsWith(QStringLiteral(" (deleted)")))
        exe.chop(10); // the program was updated while it runs
    if (!exe.isEmpty())
        names << QFileInfo(exe).fileName();
    QFile cmdline(base + QStringLiteral("cmdline"));
    if (cmdline.open(QIODevice::ReadOnly)) {
        const QByteArray argv0 = cmdline.read(4096).split('\0').value(0);
        const QString name = QFileInfo(QString::fromLocal8Bit(argv0)).fileName();
        if (!name.isEmpty() && !names.contains(name))
            names << name;
    }
    return names;
}

} // namespace orvane
