#include "shm_frame.h"

#include <wayland-client.h>

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <limits>

namespace orvane {

namespace {
// One being encoded, one waiting, one being copied into.
constexpr std::size_t maxFrames = 3;
// Larger than any screen: a bogus size must not take the memory.
constexpr int maxSide = 16384;

bool held(const std::shared_ptr<ShmFrame>& frame)
{
    if (frame.use_count() > 1)
        return true;
    // Whoever held it last has finished reading before the compositor
    // writes into it again.
    std::atomic_thread_fence(std::memory_order_acquire);
    return false;
}

void destroyBuffer(ShmFrame& frame)
{
    if (frame.buffer)
        wl_buffer_destroy(frame.buffer);
    frame.buffer = nullptr;
}
} // namespace

ShmFrame::~ShmFrame()
{
    // The buffer goes with the pool, on the connection's thread; the
    // memory with the last picture that shows it.
    if (memory)
        ::munmap(memory, size);
}

ShmFramePool::~ShmFramePool()
{
    for (const auto& frame : m_frames)
        destroyBuffer(*frame);
}

std::shared_ptr<ShmFrame> ShmFramePool::take(int width, int height, int stride,
                                             std::uint32_t format)
{
    for (const auto& frame : m_frames)
        if (!held(frame) && frame->width == width && frame->height == height &&
            frame->stride == stride && frame->format == format)
            return frame;
    // Frames of another shape are of no more use once free.
    std::erase_if(m_frames, [](const std::shared_ptr<ShmFrame>& frame) {
        if (held(frame))
            return false;
        destroyBuffer(*frame);
        return true;
    });
    if (m_frames.size() >= maxFrames)
        return nullptr;
    auto frame = make(width, height, stride, format);
    if (frame)
        m_frames.push_back(frame);
    return frame;
}

std::shared_ptr<ShmFrame> ShmFramePool::make(int width, int height, int stride,
                                             std::uint32_t format)
{
    if (width <= 0 || height <= 0 || width > maxSide || height > maxSide || stride < width * 4 ||
        stride > maxSide * 4)
        return nullptr;
    auto frame = std::make_shared<ShmFrame>();
    frame->width = width;
    frame->height = height;
    frame->stride = stride;
    frame->format = format;
    frame->size = std::size_t(stride) * std::size_t(height);
    const int fd = memfd_create("orvane-screen", MFD_CLOEXEC);
    if (fd < 0)
        return nullptr;
    if (::ftruncate(fd, off_t(frame->size)) == 0) {
        void* memory = ::mmap(nullptr, frame->size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (memory != MAP_FAILED) {
            frame->memory = memory;
            wl_shm_pool* pool = wl_shm_create_pool(m_shm, fd, std::int32_t(frame->size));
            frame->buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, format);
            wl_shm_pool_destroy(pool); // the buffer keeps the memory shared
        }
    }
    ::close(fd);
    return frame->buffer ? frame : nullptr;
}

} // namespace orvane
