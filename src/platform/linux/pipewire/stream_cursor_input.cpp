#include "stream_cursor_input.h"

namespace orvane {

namespace {

class StreamCursorInput final : public InputDevice {
public:
    StreamCursorInput(std::unique_ptr<InputDevice> input,
                      std::shared_ptr<const StreamCursor> cursor, DisplaySource& displays)
        : m_input(std::move(input)), m_cursor(std::move(cursor)), m_displays(displays)
    {
    }

    bool isAvailable() override { return m_input->isAvailable(); }
    void pressKey(KeyShortcut::Key key, ModifierMask modifiers) override
    {
        m_input->pressKey(key, modifiers);
    }
    void typeText(std::string_view utf8) override { m_input->typeText(utf8); }
    std::optional<Point> cursorPosition() override
    {
        for (const DisplayDescription& display : m_displays.activeDisplays())
            if (std::optional<Point> seen = m_cursor->on(display.id))
                return Point{display.bounds.x + seen->x * display.bounds.width,
                             display.bounds.y + seen->y * display.bounds.height};
        return m_input->cursorPosition();
    }
    void moveCursor(Point global) override { m_input->moveCursor(global); }
    void setButton(MouseButton button, bool down) override { m_input->setButton(button, down); }
    void scroll(double dx, double dy) override { m_input->scroll(dx, dy); }
    void flush() override { m_input->flush(); }

private:
    std::unique_ptr<InputDevice> m_input;
    std::shared_ptr<const StreamCursor> m_cursor;
    DisplaySource& m_displays;
};

} // namespace

std::unique_ptr<InputDevice> withStreamCursor(std::unique_ptr<InputDevice> input,
                                              std::shared_ptr<const StreamCursor> cursor,
                                              DisplaySource& displays)
{
    return std::make_unique<StreamCursorInput>(std::move(input), std::move(cursor), displays);
}

} // namespace orvane
