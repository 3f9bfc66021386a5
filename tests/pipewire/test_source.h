#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace orvane::test {

// A video source node of the test's own on the PipeWire daemon that
// PIPEWIRE_RUNTIME_DIR names: BGRx pictures of one colour in memory the
// daemon shares, with cursor and damage metadata, sent when the test says.
class TestSource {
public:
    // A square cursor of one colour, opaque.
    struct Cursor {
        int x = 0, y = 0, hotX = 0, hotY = 0;
        int side = 8;
        std::uint32_t rgb = 0xff0000;
    };
    struct Frame {
        std::optional<std::uint32_t> rgb = {}; // nothing: an empty buffer
        std::optional<Cursor> cursor = {};     // nothing: no news about the cursor
        bool damaged = true;                   // false: an empty damage list
        // Instead of one colour: width x height pixels, 0x00RRGGBB.
        const std::uint32_t* pixels = nullptr;
    };

    // Nothing, with the reason, when there is no daemon or node.
    static std::unique_ptr<TestSource> start(int width, int height, std::string* error);
    ~TestSource();

    std::uint32_t nodeId() const;
    // Sends one frame once a consumer streams from the source; false when
    // none does within a few seconds.
    bool send(const Frame& frame);

    struct Impl;

private:
    TestSource() = default;
    std::unique_ptr<Impl> m_impl;
};

} // namespace orvane::test
