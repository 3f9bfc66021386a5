#pragma once

#include "platform/input_device.h"

#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

class FakeInput final : public InputDevice {
public:
    // Everything posted, one readable line each: "key a 5", "type hi",
    // "move 10,20", "left down", "scroll 0,-3".
    std::vector<std::string> events;
    bool available = true;
    std::optional<Point> cursor = Point{};
    int flushes = 0;

    bool isAvailable() override { return available; }
    void pressKey(KeyShortcut::Key key, ModifierMask modifiers) override
    {
        events.push_back("key " + std::string(enumText(key)) + " " + std::to_string(modifiers));
    }
    void typeText(std::string_view utf8) override
    {
        events.push_back("type " + std::string(utf8));
        if (onType)
            onType();
    }
    std::function<void()> onType; // e.g. to make typing take time
    std::optional<Point> cursorPosition() override { return cursor; }
    void moveCursor(Point p) override
    {
        if (cursor)
            cursor = p;
        events.push_back("move " + number(p.x) + "," + number(p.y));
    }
    void setButton(MouseButton button, bool down) override
    {
        events.push_back(std::string(button == MouseButton::left ? "left" : "right") +
                         (down ? " down" : " up"));
    }
    void scroll(double dx, double dy) override
    {
        events.push_back("scroll " + number(dx) + "," + number(dy));
    }
    void flush() override { ++flushes; }

    static std::string number(double v) { return QString::number(v, 'g', 12).toStdString(); }
};

} // namespace orvane
