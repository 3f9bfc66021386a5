#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct wl_buffer;
struct wl_shm;

namespace orvane {

// A picture's worth of memory that we share with the compositor, which
// copies the screen into it.
struct ShmFrame {
    wl_buffer* buffer = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
    std::uint32_t format = 0;
    void* memory = nullptr;
    std::size_t size = 0;

    ShmFrame() = default;
    ShmFrame(const ShmFrame&) = delete;
    ShmFrame& operator=(const ShmFrame&) = delete;
    ~ShmFrame();
    const std::uint8_t* pixels() const { return static_cast<const std::uint8_t*>(memory); }
};

// A few frames, each reused once no picture taken into it is held any more.
class ShmFramePool {
public:
    explicit ShmFramePool(wl_shm* shm) : m_shm(shm) {}
    ~ShmFramePool();
    ShmFramePool(const ShmFramePool&) = delete;
    ShmFramePool& operator=(const ShmFramePool&) = delete;

    // A frame of this shape that nobody holds; nothing when all are held
    // and there may be no more, or memory cannot be had.
    std::shared_ptr<ShmFrame> take(int width, int height, int stride, std::uint32_t format);

private:
    std::shared_ptr<ShmFrame> make(int width, int height, int stride, std::uint32_t format);

    wl_shm* m_shm;
    std::vector<std::shared_ptr<ShmFrame>> m_frames;
};

} // namespace orvane
