#pragma once

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace orvane {

// Memory shared with the X server (MIT-SHM), which writes pictures of the
// screen straight into it. A segment handed out is not handed out again
// until every holder of it has let go, so a picture that waits or is being
// encoded is never overwritten; its memory outlives the pool if need be.
class X11ShmPool {
public:
    // Three: one picture being encoded, one waiting, one being taken.
    static constexpr std::size_t segmentCount = 3;

    struct Segment {
        xcb_shm_seg_t id = 0;
        std::uint8_t* data = nullptr;
        std::size_t size = 0;
        Segment() = default;
        Segment(const Segment&) = delete;
        Segment& operator=(const Segment&) = delete;
        ~Segment();
    };

    explicit X11ShmPool(xcb_connection_t* connection) : m_connection(connection) {}
    ~X11ShmPool();
    X11ShmPool(const X11ShmPool&) = delete;
    X11ShmPool& operator=(const X11ShmPool&) = delete;

    // Segments of `size` bytes from now on; the server lets go of the old ones.
    void setSize(std::size_t size);
    // A segment that nobody holds, made when needed; nothing when all are
    // held or the server refuses a new one (then `error` says why).
    std::shared_ptr<Segment> acquire(QString* error);

private:
    std::shared_ptr<Segment> make(QString* error);
    void detachAll();

    xcb_connection_t* m_connection;
    std::size_t m_size = 0;
    std::vector<std::shared_ptr<Segment>> m_segments;
};

} // namespace orvane
