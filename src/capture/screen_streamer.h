#pragma once

#include "frame_output.h"

#include "platform/screen_capture.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>

namespace orvane {

// One display of the computer as a stream of JPEG pictures for the phones
// that watch it: which display, at what size and rate, started, changed and
// stopped on request, with at most one picture on its way at a time (see
// FrameOutput). Lives on the main thread; the pictures are taken, scaled and
// encoded on the capture source's thread.
class ScreenStreamer : public QObject {
    Q_OBJECT
public:
    struct Settings {
        std::int64_t maxWidth = 0;
        std::int64_t framesPerSecond = 0;
        bool operator==(const Settings&) const = default;
    };
    // The picture size for a display: twice its width in points (its pixels
    // over the desktop's scale), at most maxWidth, and the height that keeps
    // its shape, truncated. Nothing (0 x 0) for a display or width of no size.
    using Size = FrameSize;
    static Size makeConfiguration(const CaptureDisplay& display, const Settings& settings);

    // Called with nothing when it worked, else with the text for the user.
    using Completion = std::function<void(std::optional<QString> error)>;

    explicit ScreenStreamer(std::unique_ptr<ScreenCapture> source, QObject* parent = nullptr);
    ~ScreenStreamer() override;

    bool isRunning() const;
    // The display being (or last) captured; the main display at first.
    std::uint32_t displayID() const;
    std::optional<std::uint32_t> preferredDisplayID() const;
    const std::optional<Settings>& currentSettings() const;
    // Whether the screen can be captured at all now.
    bool available();

    // Each encoded picture, on the main thread.
    std::function<void(std::shared_ptr<const Bytes> jpeg)> onFrame;
    // The source stopped by itself, with the reason, on the main thread.
    std::function<void(QString reason)> onStop;

    // Starts with these settings, or changes a running stream to them. Of
    // several requests made while one is carried out, only the newest is
    // carried out next; settings already in force cost nothing.
    void apply(Settings settings, Completion done);
    void stop();
    // Remembers the display for every later start, and moves a running
    // stream there.
    void selectDisplay(std::uint32_t displayID, Completion done);
    // A viewer joined: one picture now.
    void refresh();
    // The consumer has sent the last picture everywhere (see FrameOutput).
    void frameDone();

private:
    struct State;
    void applyStep();
    void endApply(std::optional<QString> error);
    std::optional<QString> start(const Settings& settings);
    std::optional<QString> reconfigure(const CaptureDisplay& display, const Settings& settings);
    ScreenCapture::EventSink sinkFor(std::uint64_t generation);
    void sourceReported(std::uint64_t generation, const CaptureEvent& event);
    void displayGone();
    void stoppedBySource(const QString& reason);
    void deliver(std::shared_ptr<const Bytes> jpeg, std::uint64_t period);
    void complete(Completion done, std::optional<QString> error);

    std::unique_ptr<State> m_state;
};

} // namespace orvane
