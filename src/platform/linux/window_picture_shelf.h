#pragma once

#include "platform/linux/x11/x11_windows_image.h"

#include <QByteArray>

#include <algorithm>
#include <cstddef>
#include <deque>
#include <map>
#include <optional>
#include <set>

namespace orvane {

// The bookkeeping of window pictures that take too long to wait for: a
// picture asked for is made in the background, one at a time, and the next
// request for that window and size gets it. `Key` is the desktop's name for
// a window. The caller takes the wanted pictures one by one and makes them.
template <class Key> class WindowPictureShelf {
public:
    struct Wanted {
        Key window{};
        int width = 0, height = 0, quality = 0;
    };

    // Requests for pictures waiting their turn; older ones are dropped first.
    static constexpr std::size_t maxQueued = 16;
    static constexpr std::size_t maxPictures = 64;
    static constexpr int maxSide = 4096; // of a picture asked for

    static bool fits(int width, int height)
    {
        return width >= 1 && height >= 1 && width <= maxSide && height <= maxSide;
    }

    // Puts a picture on the list, unless one of the window is wanted or
    // under way already; true when it was put there.
    bool ask(const Key& window, int width, int height, int quality)
    {
        const bool queued = std::any_of(m_queue.begin(), m_queue.end(),
                                        [&](const Wanted& w) { return w.window == window; });
        if (queued || (m_current && m_current->window == window))
            return false;
        if (m_queue.size() >= maxQueued)
            m_queue.pop_front();
        m_queue.push_back(Wanted{window, width, height, quality});
        return true;
    }

    // The last picture of the window at this size, if one was made.
    std::optional<QByteArray> picture(const Key& window, int width, int height) const
    {
        const auto found = m_pictures.find(window);
        if (found == m_pictures.end() || found->second.width != width ||
            found->second.height != height)
            return std::nullopt;
        return found->second.jpeg;
    }

    // Forgets the pictures, and the requests, of windows that are gone.
    void keepOnly(const std::set<Key>& windows)
    {
        std::erase_if(m_pictures, [&](const auto& entry) { return !windows.count(entry.first); });
        std::erase_if(m_queue, [&](const Wanted& w) { return !windows.count(w.window); });
    }

    // Whether a picture is wanted and none is under way.
    bool ready() const { return !m_current && !m_queue.empty(); }
    // The next wanted picture, now under way; only when ready().
    const Wanted& start()
    {
        m_current = m_queue.front();
        m_queue.pop_front();
        return *m_current;
    }
    const Wanted* current() const { return m_current ? &*m_current : nullptr; }
    void dropWanted() { m_queue.clear(); }

    // Keeps the pixels of the picture under way, scaled to the size asked
    // for, and ends it.
    void store(const ScreenPixels& pixels)
    {
        if (!m_current)
            return;
        const Wanted wanted = *m_current;
        const auto bgrx =
            scaleFrame(pixels, 0, 0, pixels.width, pixels.height, wanted.width, wanted.height);
        if (const auto jpeg = encodeJpeg(bgrx, wanted.width, wanted.height, wanted.quality)) {
            if (m_pictures.size() >= maxPictures && !m_pictures.count(wanted.window))
                m_pictures.erase(m_pictures.begin());
            m_pictures[wanted.window] = Picture{wanted.width, wanted.height, *jpeg};
        }
        m_current.reset();
    }
    // Ends the picture under way, made or not.
    void finish() { m_current.reset(); }

private:
    struct Picture {
        int width = 0, height = 0;
        QByteArray jpeg;
    };

    std::deque<Wanted> m_queue;
    std::map<Key, Picture> m_pictures;
    std::optional<Wanted> m_current;
};

} // namespace orvane
