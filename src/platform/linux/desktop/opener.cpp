#include "opener.h"

#include "platform/diagnostics.h"

#include <QProcess>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace orvane {

namespace {

// Each run holds a process and a pipe until the opener and everything it
// started have closed that pipe; a browser started by the opener may hold
// it for as long as it stays open.
constexpr int maximumRuns = 32;
constexpr qsizetype maximumLineBytes = 1000;

// One run of an opener. It deletes itself once the opener has ended and the
// error pipe has no writer left.
class OpenerRun final : public QObject {
public:
    static inline int alive = 0;

    OpenerRun(const QString& program, const QString& argument, std::chrono::milliseconds wait,
              std::function<void(bool)> done)
        : m_done(std::move(done))
    {
        ++alive;
        int ends[2] = {-1, -1};
        if (::pipe2(ends, O_CLOEXEC) == 0) {
            // Only our end waits for nothing; the writers keep a blocking pipe.
            ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
            m_errors = ends[0];
            auto* notifier = new QSocketNotifier(m_errors, QSocketNotifier::Read, this);
            connect(notifier, &QSocketNotifier::activated, this, &OpenerRun::readErrors);
            // Runs in the child after QProcess has set up its standard files.
            m_process.setChildProcessModifier([end = ends[1]] { ::dup2(end, STDERR_FILENO); });
        }
        m_process.setStandardInputFile(QProcess::nullDevice());
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
        connect(&m_process, &QProcess::finished, this, [this](int code, QProcess::ExitStatus how) {
            const bool opened = how == QProcess::NormalExit && code == 0;
            if (!opened)
                qCInfo(diagnostics).noquote() << "The desktop's opener ended with status" << code;
            ended(opened);
        });
        connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                ended(false);
        });
        // Still running is no refusal: xdg-open waits for a browser it
        // started for as long as that browser stays open. It is left to
        // finish, never killed.
        QTimer::singleShot(wait, this, [this] { answer(true); });
        m_process.start(program, {argument});
        if (ends[1] >= 0)
            ::close(ends[1]); // the child has its copy; EOF comes when all writers are gone
    }
    ~OpenerRun() override
    {
        --alive;
        if (m_errors >= 0)
            ::close(m_errors);
    }

private:
    void answer(bool opened)
    {
        if (auto done = std::exchange(m_done, nullptr))
            done(opened);
    }

    void ended(bool opened)
    {
        answer(opened);
        m_ended = true;
        finishIfDone();
    }

    void finishIfDone()
    {
        if (m_ended && m_errors < 0)
            deleteLater();
    }

    void readErrors()
    {
        char chunk[4096];
        const ssize_t got = ::read(m_errors, chunk, sizeof chunk);
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (got > 0) {
            m_pending.append(chunk, got);
            logLines(false);
            return;
        }
        logLines(true);
        if (auto* notifier = findChild<QSocketNotifier*>())
            notifier->setEnabled(false);
        ::close(m_errors);
        m_errors = -1;
        finishIfDone();
    }

    // Whole lines, cut to a bound, with control characters shown as '?';
    // at the end, what is left too.
    void logLines(bool all)
    {
        for (;;) {
            qsizetype end = m_pending.indexOf('\n');
            if (end < 0 && m_pending.size() <= maximumLineBytes && !(all && !m_pending.isEmpty()))
                return;
            const qsizetype length = end >= 0 ? end : m_pending.size();
            QByteArray line = m_pending.left(std::min(length, maximumLineBytes));
            m_pending.remove(0, end >= 0 ? end + 1 : length);
            for (char& c : line) {
                if ((c >= 0 && c < ' ' && c != '\t') || c == 0x7f)
                    c = '?';
            }
            qCInfo(diagnostics).noquote() << QString::fromUtf8(line);
        }
    }

    QProcess m_process;
    std::function<void(bool)> m_done;
    int m_errors = -1;
    QByteArray m_pending; // the start of a line still being written
    bool m_ended = false;
};

} // namespace

bool startOpener(const QString& program, const QString& argument, std::chrono::milliseconds wait,
                 std::function<void(bool opened)> done)
{
    const QString path = QStandardPaths::findExecutable(program);
    if (path.isEmpty() || OpenerRun::alive >= maximumRuns) {
        if (!path.isEmpty())
            qCInfo(diagnostics).noquote() << "Too many openers still running:" << program;
        if (done)
            done(false);
        return false;
    }
    new OpenerRun(path, argument, wait, std::move(done));
    return true;
}

} // namespace orvane
