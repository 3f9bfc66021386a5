#include "x11_shm_pool.h"

#include <QCoreApplication>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdlib>

namespace orvane {

X11ShmPool::Segment::~Segment()
{
    if (data)
        shmdt(data);
}

X11ShmPool::~X11ShmPool()
{
    detachAll();
}

void X11ShmPool::detachAll()
{
    for (const std::shared_ptr<Segment>& segment : m_segments)
        xcb_shm_detach(m_connection, segment->id);
    m_segments.clear();
    xcb_flush(m_connection);
}

void X11ShmPool::setSize(std::size_t size)
{
    if (size == m_size)
        return;
    detachAll();
    m_size = size;
}

std::shared_ptr<X11ShmPool::Segment> X11ShmPool::acquire(QString* error)
{
    for (const std::shared_ptr<Segment>& segment : m_segments) {
        // Only the pool hands segments out, and only on this thread, so a
        // segment held by nobody else cannot be taken meanwhile.
        if (segment.use_count() == 1)
            return segment;
    }
    if (m_segments.size() >= segmentCount || m_size == 0)
        return nullptr;
    std::shared_ptr<Segment> segment = make(error);
    if (segment)
        m_segments.push_back(segment);
    return segment;
}

std::shared_ptr<X11ShmPool::Segment> X11ShmPool::make(QString* error)
{
    const int shmid = shmget(IPC_PRIVATE, m_size, IPC_CREAT | 0600);
    if (shmid < 0) {
        *error = QCoreApplication::translate("X11ScreenCapture",
                                             "No shared memory for the screen's pictures");
        return nullptr;
    }
    auto segment = std::make_shared<Segment>();
    void* address = shmat(shmid, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        shmctl(shmid, IPC_RMID, nullptr);
        *error = QCoreApplication::translate("X11ScreenCapture",
                                             "No shared memory for the screen's pictures");
        return nullptr;
    }
    segment->data = static_cast<std::uint8_t*>(address);
    segment->size = m_size;
    segment->id = xcb_generate_id(m_connection);
    xcb_generic_error_t* refused = xcb_request_check(
        m_connection, xcb_shm_attach_checked(m_connection, segment->id, std::uint32_t(shmid), 0));
    // Both sides have it mapped now (or the server never will): the system
    // frees it once the last of them lets go, even if we crash.
    shmctl(shmid, IPC_RMID, nullptr);
    if (refused) {
        std::free(refused);
        *error = QCoreApplication::translate("X11ScreenCapture",
                                             "The display does not share memory with this program");
        return nullptr;
    }
    return segment;
}

} // namespace orvane
