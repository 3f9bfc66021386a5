#pragma once

// Writing a text into a pipe that another program reads, as a clipboard
// owner does when a program pastes.
#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <functional>
#include <unistd.h>

namespace orvane {

// A paste gets the whole text within this time or nothing: a program that
// stopped reading must not hold a pipe and a copy of the text for ever.
constexpr int pipeWriteDeadlineMs = 5000;

// write() that reports a reader gone as EPIPE instead of killing the
// process with SIGPIPE, whatever the process does with that signal.
inline ssize_t writeQuietly(int fd, const char* data, std::size_t size)
{
    sigset_t pipeSignal;
    sigset_t old;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &old);
    const ssize_t written = ::write(fd, data, size);
    const int error = errno;
    if (written < 0 && error == EPIPE) {
        const timespec none{0, 0};
        sigtimedwait(&pipeSignal, nullptr, &none); // the signal this write raised
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = error;
    return written;
}

// Hands one text to a pipe (non-blocking, closed when done) as fast as its
// reader takes it, from the event loop, and deletes itself when done.
class PipeWriter : public QObject {
public:
    PipeWriter(int fd, QByteArray bytes, QObject* parent)
        : QObject(parent), m_fd(fd), m_bytes(std::move(bytes)),
          m_notifier(fd, QSocketNotifier::Write, this)
    {
        m_notifier.setEnabled(false);
    }
    ~PipeWriter() override { closePipe(); }

    void start(std::function<void(bool written)> done)
    {
        m_done = std::move(done);
        connect(&m_notifier, &QSocketNotifier::activated, this, [this] { writeSome(); });
        QTimer::singleShot(pipeWriteDeadlineMs, this, [this] { finish(false); });
        writeSome();
    }

private:
    void writeSome()
    {
        while (m_written < m_bytes.size()) {
            const ssize_t n = writeQuietly(m_fd, m_bytes.constData() + m_written,
                                           std::size_t(m_bytes.size() - m_written));
            if (n > 0) {
                m_written += n;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                m_notifier.setEnabled(true); // the pipe is full: on when it drains
                return;
            } else if (n == 0 || errno != EINTR) {
                finish(false);
                return;
            }
        }
        finish(true);
    }

    void finish(bool written)
    {
        if (m_fd < 0)
            return;
        closePipe(); // the reader sees the end of the text only now
        deleteLater();
        if (m_done)
            std::exchange(m_done, nullptr)(written);
    }

    void closePipe()
    {
        if (m_fd < 0)
            return;
        m_notifier.setEnabled(false);
        ::close(m_fd);
        m_fd = -1;
    }

    int m_fd;
    const QByteArray m_bytes;
    qsizetype m_written = 0;
    QSocketNotifier m_notifier;
    std::function<void(bool)> m_done;
};

} // namespace orvane
