#pragma once

#include "frame_encoder.h"

#include "platform/screen_capture.h"
#include "protocol/types.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace orvane {

// Turns captured pictures into JPEG on a thread of its own, one at a time.
// A picture is being encoded or on its way to the phones from the moment it
// is taken until the consumer calls frameDone: that is the busy period. A
// picture captured meanwhile waits in the single `pending` slot, replacing
// any picture already there, so the phones always get the newest picture the
// network can carry and nothing ever queues up behind a slow phone.
class FrameOutput {
public:
    // Each JPEG, on the encoding thread, with the throttle period it belongs
    // to (see reset).
    using FrameSink = std::function<void(std::shared_ptr<const Bytes> jpeg, std::uint64_t period)>;

    FrameOutput();
    ~FrameOutput();
    FrameOutput(const FrameOutput&) = delete;
    FrameOutput& operator=(const FrameOutput&) = delete;

    // Set once, before any picture arrives.
    FrameSink onFrame;

    // The width the pictures are sent at; their height keeps the captured
    // picture's shape. Takes effect with the next picture encoded.
    void setWidth(int width);
    // A captured picture, from any thread: encoded at once when the output
    // is idle, else kept as the one that waits.
    void take(CapturedImage image);
    // Ends the busy period, from any thread: the waiting picture is encoded
    // next, or the output becomes idle.
    void frameDone();
    // A new stream begins: idle, nothing waiting, and every picture of the
    // earlier periods that is still on its way is to be dropped.
    void reset();
    // The stream ended: the encoder frees its buffers once it is idle.
    void release();

    bool isBusy();
    std::uint64_t period();

private:
    struct Job {
        CapturedImage image;
        std::uint64_t period = 0;
    };
    void schedule(Job job);
    void run();
    void encode(const Job& job);

    // The throttle, shared by the capture thread, the encoding thread and
    // the main thread; never held while encoding or calling out.
    std::mutex m_lock;
    bool m_isBusy = false;
    std::optional<CapturedImage> m_pending;
    std::uint64_t m_period = 0;
    int m_width = 0;

    // The encoding thread. It has at most one job to do: the busy flag lets
    // a second one in only after the first was taken up.
    std::mutex m_jobLock;
    std::condition_variable m_wake;
    std::optional<Job> m_job;
    bool m_quit = false;
    bool m_release = false;
    FrameEncoder m_encoder;
    std::thread m_thread;
};

} // namespace orvane
