#include "settings_sections.h"

#include "follow.h"
#include "rows.h"
#include "style.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace orvane {

Toggle::Toggle(QWidget* parent) : QAbstractButton(parent)
{
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void Toggle::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    qreal radius = track.height() / 2;
    painter.setBrush(isChecked() ? style::accent() : style::divider());
    painter.drawRoundedRect(track, radius, radius);
    qreal knob = track.height() - 4;
    qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    painter.setBrush(isEnabled() ? QColor(Qt::white) : style::secondaryText());
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
}

PowerSection::PowerSection(OrvaneServer& server, QWidget* parent)
    : QWidget(parent), m_server(server)
{
    setObjectName(QStringLiteral("powerSection"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(rows::sectionTitle(tr("Power")));
    layout->addSpacing(10);
    auto row = [layout](const QString& symbol, const QString& title, QWidget* description,
                        Toggle* toggle) {
        layout->addWidget(rows::listRow(
            symbol, 18,
            rows::stacked(style::label(title, 16, style::primaryText(), QFont::DemiBold),
                          description),
            toggle));
    };
    auto text = [](const QString& words) {
        return style::label(words, 13, style::secondaryText(), QFont::Normal, true);
    };
    m_keepAwake = new Toggle;
    m_keepAwake->setObjectName(QStringLiteral("keepAwake"));
    m_keepAwakeProblem = text(QString());
    m_keepAwakeProblem->setObjectName(QStringLiteral("keepAwakeProblem"));
    row(QStringLiteral("cup"), tr("Keep this computer awake"),
        rows::stacked(text(tr("While Orvane runs this computer doesn't fall asleep, so your phone "
                              "can always reach it. The display still turns off on its own.")),
                      m_keepAwakeProblem, 6),
        m_keepAwake);
    m_remote = new Toggle;
    m_remote->setObjectName(QStringLiteral("remoteAccess"));
    m_relay = text(QString());
    m_relay->setObjectName(QStringLiteral("relayAddress"));
    m_relay->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row(QStringLiteral("globe"), tr("Reach from anywhere"),
        rows::stacked(text(tr("Paired phones can connect over mobile data or another Wi-Fi. "
                              "Everything stays end-to-end encrypted; the relay only passes "
                              "along data it can't read.")),
                      m_relay, 6),
        m_remote);
    // A switch that nothing can hold on flips back at once.
    connect(m_keepAwake, &Toggle::clicked, this, [this](bool on) {
        m_server.setKeepAwake(on);
        refresh();
    });
    connect(m_remote, &Toggle::clicked, this, [this](bool on) { m_server.setRemoteAccess(on); });
    follow(
        server.status(), this, [this] { refresh(); }, &ServerStatus::keepsAwakeChanged,
        &ServerStatus::keepAwakeHoldChanged, &ServerStatus::remoteAccessChanged);
}

void PowerSection::refresh()
{
    const SleepHold hold = m_server.status().keepAwakeHold();
    m_keepAwake->setChecked(!hold.holder.isEmpty());
    m_keepAwakeProblem->setText(tr("Nothing on this computer can keep it awake: ") + hold.lacking);
    m_keepAwakeProblem->setVisible(hold.holder.isEmpty() && !hold.lacking.isEmpty());
    m_remote->setChecked(m_server.status().remoteAccess());
    const QString& relay = m_server.status().relayUrl();
    m_relay->setText(relay.isEmpty()
                         ? tr("Needs a relay address: give one as ORVANE_RELAY_URL, or as "
                              "relayURL in the settings file.")
                         : tr("Relay: ") + relay);
}

} // namespace orvane
