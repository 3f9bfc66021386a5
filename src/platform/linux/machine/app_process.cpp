#include "app_process.h"

#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace orvane {

bool isSignallablePid(std::int32_t pid)
{
    return pid > 1 && pid != ::getpid();
}

namespace {

// "pid (comm) state ppid ..." where comm may hold spaces and parentheses, so
// the fields are counted from the last ')': the state comes first.
QList<QByteArray> fieldsAfterName(const QByteArray& stat)
{
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return {};
    return stat.mid(close + 1).simplified().split(' ');
}

QByteArray readStat(std::int32_t pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(4096);
}

} // namespace

std::optional<std::uint64_t> parseStartTime(const QByteArray& stat)
{
    // The start time is field 22, the 20th after comm.
    const QList<QByteArray> fields = fieldsAfterName(stat);
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
    return parseStartTime(readStat(pid));
}

std::optional<std::int32_t> parseParentPid(const QByteArray& stat)
{
    const QList<QByteArray> fields = fieldsAfterName(stat);
    if (fields.size() < 2)
        return std::nullopt;
    bool ok = false;
    const int parent = fields[1].toInt(&ok);
    return ok && parent >= 0 ? std::optional(std::int32_t(parent)) : std::nullopt;
}

std::vector<std::int32_t> ownAncestors()
{
    // The chain ends at init or at a process we may not read (another PID
    // namespace gives 0); the bound only guards against a chain that a
    // racing fork could make look circular.
    constexpr int maxDepth = 256;
    std::vector<std::int32_t> out;
    std::int32_t pid = std::int32_t(::getpid());
    for (int depth = 0; depth < maxDepth; ++depth) {
        const std::optional<std::int32_t> parent = parseParentPid(readStat(pid));
        if (!parent || *parent <= 1)
            break;
        out.push_back(*parent);
        pid = *parent;
    }
    return out;
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
