#include "frame_output.h"

#include <pthread.h>

#include <utility>

namespace orvane {

FrameOutput::FrameOutput()
{
    m_thread = std::thread([this] { run(); });
    pthread_setname_np(m_thread.native_handle(), "orvane-encode");
}

FrameOutput::~FrameOutput()
{
    {
        std::lock_guard guard(m_jobLock);
        m_quit = true;
    }
    m_wake.notify_one();
    // Waits at most for the picture being encoded.
    m_thread.join();
}

void FrameOutput::setWidth(int width)
{
    std::lock_guard guard(m_lock);
    m_width = width;
}

void FrameOutput::take(CapturedImage image)
{
    std::unique_lock guard(m_lock);
    if (m_isBusy) {
        // The picture waiting until now is released here, and with it the
        // source's buffer.
        m_pending = std::move(image);
        return;
    }
    m_isBusy = true;
    const std::uint64_t period = m_period;
    guard.unlock();
    schedule({std::move(image), period});
}

void FrameOutput::frameDone()
{
    std::unique_lock guard(m_lock);
    if (!m_pending) {
        m_isBusy = false;
        return;
    }
    Job job{std::move(*m_pending), m_period};
    m_pending.reset();
    guard.unlock();
    schedule(std::move(job));
}

void FrameOutput::reset()
{
    std::optional<CapturedImage> dropped;
    std::lock_guard guard(m_lock);
    m_isBusy = false;
    dropped.swap(m_pending);
    ++m_period;
}

void FrameOutput::release()
{
    {
        std::lock_guard guard(m_jobLock);
        m_release = true;
    }
    m_wake.notify_one();
}

bool FrameOutput::isBusy()
{
    std::lock_guard guard(m_lock);
    return m_isBusy;
}

std::uint64_t FrameOutput::period()
{
    std::lock_guard guard(m_lock);
    return m_period;
}

void FrameOutput::schedule(Job job)
{
    {
        std::lock_guard guard(m_jobLock);
        // A job still here belongs to a period that reset() ended, or the
        // busy flag would have kept this one out: it is dropped.
        m_job = std::move(job);
    }
    m_wake.notify_one();
}

void FrameOutput::run()
{
    for (;;) {
        std::optional<Job> job;
        bool release = false;
        {
            std::unique_lock guard(m_jobLock);
            m_wake.wait(guard, [this] { return m_quit || m_job || m_release; });
            if (m_quit)
                return;
            job.swap(m_job);
            release = std::exchange(m_release, false);
        }
        if (release)
            m_encoder.release();
        if (job)
            encode(*job);
    }
}

void FrameOutput::encode(const Job& job)
{
    int width = 0;
    {
        std::lock_guard guard(m_lock);
        width = m_width;
    }
    std::optional<Bytes> jpeg = m_encoder.encode(job.image, width);
    if (!jpeg) {
        // Nothing to send: the busy period ends here, and the waiting
        // picture, if any, is next.
        bool current = false;
        {
            std::lock_guard guard(m_lock);
            current = job.period == m_period;
        }
        if (current)
            frameDone();
        return;
    }
    if (onFrame)
        onFrame(std::make_shared<const Bytes>(std::move(*jpeg)), job.period);
}

} // namespace orvane
