#include "toplevel_processes.h"

#include "platform/linux/machine/app_process.h"
#include "platform/linux/x11/process_traits.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace orvane {

namespace {

// A desktop has a few hundred processes; a list longer than this is not
// read to its end.
constexpr std::size_t maxProcesses = 8192;
// Known ids, before the list starts again (app ids come from the compositor).
constexpr int maxKnown = 256;
// How soon an id whose program was not found is looked for again.
constexpr std::chrono::seconds retryAfter{2};

QByteArray readProcFile(std::int32_t pid, const char* name, qint64 limit)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(limit);
}

bool givesId(const QString& argument, const QString& appId)
{
    return argument == appId || argument.endsWith(QLatin1Char('=') + appId);
}

bool matches(const ProcessCandidate& process, const QString& appId, const QString& program)
{
    // A window named after an interpreter could be any of its scripts; a
    // guess there could have a force quit end the wrong program.
    const bool byName = !isGenericLauncher(appId.toLower());
    for (const QString& name : process.names)
        if ((byName && name.compare(appId, Qt::CaseInsensitive) == 0) ||
            (!program.isEmpty() && name == program))
            return true;
    return std::any_of(process.arguments.begin(), process.arguments.end(),
                       [&](const QString& argument) { return givesId(argument, appId); });
}

// Whether the process runs in our Wayland session: another user's session,
// or a nested compositor's, shows other windows.
bool inOurSession(std::int32_t pid)
{
    const QByteArray ours = qgetenv("WAYLAND_DISPLAY");
    if (ours.isEmpty())
        return true;
    const QList<QByteArray> environment = readProcFile(pid, "environ", 256 * 1024).split('\0');
    const QByteArray theirs = QByteArray("WAYLAND_DISPLAY=") + ours;
    return environment.contains(theirs);
}

} // namespace

std::optional<std::int32_t> chooseAppProcess(const std::vector<ProcessCandidate>& processes,
                                             const QString& appId, const QString& program)
{
    if (appId.isEmpty())
        return std::nullopt;
    std::vector<const ProcessCandidate*> fitting;
    for (const ProcessCandidate& process : processes)
        if (process.pid > 0 && matches(process, appId, program))
            fitting.push_back(&process);
    const ProcessCandidate* best = nullptr;
    for (const ProcessCandidate* process : fitting)
        if (!best || process->startTime < best->startTime)
            best = process;
    return best ? std::optional(best->pid) : std::nullopt;
}

std::vector<ProcessCandidate> ownProcesses()
{
    std::vector<ProcessCandidate> out;
    const uid_t uid = ::getuid();
    const std::int32_t self = std::int32_t(::getpid());
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool numeric = false;
        const std::int32_t pid = entry.toInt(&numeric);
        struct stat info {};
        const QByteArray path = QByteArray("/proc/") + entry.toLatin1();
        if (!numeric || pid == self || ::stat(path.constData(), &info) != 0 || info.st_uid != uid)
            continue;
        const QByteArray stat = readProcFile(pid, "stat", 4096);
        const auto start = parseStartTime(stat);
        if (!start)
            continue; // gone, or a zombie
        ProcessCandidate process{pid, *start, processExecutableNames(pid), {}};
        const QList<QByteArray> argv = readProcFile(pid, "cmdline", 4096).split('\0');
        for (qsizetype i = 1; i < argv.size(); ++i)
            if (!argv[i].isEmpty())
                process.arguments << QString::fromLocal8Bit(argv[i]);
        out.push_back(std::move(process));
        if (out.size() >= maxProcesses)
            break;
    }
    return out;
}

std::int32_t ToplevelProcesses::pidOf(const QString& appId)
{
    if (appId.isEmpty())
        return 0;
    const auto now = std::chrono::steady_clock::now();
    const auto known = m_known.constFind(appId);
    if (known != m_known.constEnd()) {
        if (known->pid > 0 && processStartTime(known->pid) == known->startTime)
            return known->pid;
        if (known->pid == 0 && now - known->lookedAt < retryAfter)
            return 0;
    }
    const std::int32_t pid = lookUp(appId);
    if (m_known.size() >= maxKnown)
        m_known.clear();
    m_known.insert(appId, {pid, pid > 0 ? processStartTime(pid).value_or(0) : 0, now});
    return pid;
}

std::int32_t ToplevelProcesses::lookUp(const QString& appId)
{
    const QString program = programOf(appId);
    std::vector<ProcessCandidate> candidates = ownProcesses();
    std::erase_if(candidates, [&](const ProcessCandidate& process) {
        return !matches(process, appId, program) || !inOurSession(process.pid);
    });
    return chooseAppProcess(candidates, appId, program).value_or(0);
}

QString ToplevelProcesses::programOf(const QString& appId)
{
    const IndexedApp* app = m_index.find(appId);
    if (!app || isGenericLauncher(app->programName))
        return {};
    return app->programName;
}

} // namespace orvane
