#pragma once

#include "platform/screen_capture.h"
#include "protocol/types.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace orvane {

// The size a picture is sent at.
struct FrameSize {
    int width = 0;
    int height = 0;
    bool operator==(const FrameSize&) const = default;
};

// Scales the pictures of one stream and encodes them as JPEG, reusing its
// buffers, and the coded bytes of what did not change, from one picture to
// the next. One thread at a time.
class FrameEncoder {
public:
    static constexpr int quality = 55;

    FrameEncoder();
    ~FrameEncoder();
    FrameEncoder(const FrameEncoder&) = delete;
    FrameEncoder& operator=(const FrameEncoder&) = delete;

    // The picture at `width`, with the height that keeps its shape; the
    // picture itself when it has that width already. Valid until the next
    // call; nothing when a size is zero or absurd.
    std::optional<CapturedImage> scaled(const CapturedImage& image, int width);
    // The picture scaled, as a baseline JPEG, 4:2:0.
    std::optional<Bytes> encode(const CapturedImage& image, int width);
    // Frees the buffers until the next picture.
    void release();

private:
    struct Buffers;
    std::unique_ptr<Buffers> m_buffers;
};

// The height for `width` that keeps the shape of `from`, truncated; at least 1.
int heightKeepingShape(int width, int fromWidth, int fromHeight);

} // namespace orvane
