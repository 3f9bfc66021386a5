#pragma once

#include "platform/input_device.h"
#include "protocol/types.h"

#include <QTimer>

#include <deque>
#include <functional>
#include <string>

namespace orvane {

// Types long texts a slice at a time from the event loop, so a megabyte of
// text never stalls other phones' commands. Texts of several phones take
// turns; a phone that goes away has the rest of its typing dropped.
class Typist {
public:
    explicit Typist(InputDevice& input);

    // Types `utf8` for `owner` and calls `done` once the last character was
    // posted (at once for a short text when nothing else is being typed).
    void type(const Uuid& owner, std::string utf8, std::function<void()> done);
    void cancel(const Uuid& owner);

    // One turn types for about this long before yielding to the event loop.
    static constexpr int turnBudgetMs = 8;
    // Bytes handed to the input device per call.
    static constexpr std::size_t sliceBytes = 256;

private:
    struct Job {
        Uuid owner;
        std::string text;
        std::size_t offset = 0;
        std::function<void()> done;
    };

    void turn();
    // Types the next slice of the job; true when the job is finished.
    bool typeSlice(Job& job);

    InputDevice& m_input;
    std::deque<Job> m_jobs;
    QTimer m_timer;
    bool m_inTurn = false;
};

// Where a slice of at most `limit` bytes from `offset` may end: never inside
// a UTF-8 sequence, and never between "\r" and "\n", which are one Return.
std::size_t sliceEnd(std::string_view text, std::size_t offset, std::size_t limit);

} // namespace orvane
