#pragma once

#include "server/orvane_server.h"

#include <QAbstractButton>
#include <QWidget>

class QLabel;

namespace orvane {

// An on/off switch drawn as a sliding knob.
class Toggle : public QAbstractButton {
public:
    explicit Toggle(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {44, 26}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

// "Power": keeping the computer awake, on only while something holds sleep
// off, and reaching it from anywhere through the relay, whose address it
// shows, or that it needs one.
class PowerSection : public QWidget {
public:
    explicit PowerSection(OrvaneServer& server, QWidget* parent = nullptr);

private:
    void refresh();

    OrvaneServer& m_server;
    Toggle* m_keepAwake = nullptr;
    QLabel* m_keepAwakeProblem = nullptr;
    Toggle* m_remote = nullptr;
    QLabel* m_relay = nullptr;
};

} // namespace orvane
