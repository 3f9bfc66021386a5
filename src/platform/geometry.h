#pragma once

#include <algorithm>

namespace orvane {

// Global desktop coordinates: origin at the top left of the screen, y down,
// in the desktop's pixels.
struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    bool operator==(const Rect&) const = default;
    bool isNull() const { return width <= 0 || height <= 0; }
    double minX() const { return x; }
    double minY() const { return y; }
    double maxX() const { return x + width; }
    double maxY() const { return y + height; }
    bool contains(Point p) const { return p.x >= x && p.x < maxX() && p.y >= y && p.y < maxY(); }
    // The part both hold; a null rectangle when they do not overlap.
    Rect intersected(const Rect& other) const
    {
        double left = std::max(x, other.x);
        double top = std::max(y, other.y);
        double right = std::min(maxX(), other.maxX());
        double bottom = std::min(maxY(), other.maxY());
        if (right <= left || bottom <= top)
            return {};
        return {left, top, right - left, bottom - top};
    }
    // The smallest rectangle holding both; a null rectangle adds nothing.
    Rect united(const Rect& other) const
    {
        if (other.isNull())
            return *this;
        if (isNull())
            return other;
        double left = std::min(x, other.x);
        double top = std::min(y, other.y);
        return {left, top, std::max(maxX(), other.maxX()) - left,
                std::max(maxY(), other.maxY()) - top};
    }
};

} // namespace orvane
