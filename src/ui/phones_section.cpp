#include "phones_section.h"

#include "code_cells.h"
#include "follow.h"
#include "rows.h"
#include "style.h"
#include "symbols.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTimer>

namespace orvane {

QString phoneStatus(const QString& name, const QStringList& viewers, const QStringList& previews)
{
    if (viewers.contains(name))
        return QWidget::tr("Viewing screen");
    if (previews.contains(name))
        return QWidget::tr("Small preview open");
    return QWidget::tr("Connected");
}

SharingBanner::SharingBanner(OrvaneServer& server, QWidget* parent)
    : QWidget(parent), m_server(server)
{
    setObjectName(QStringLiteral("sharingBanner"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* banner = new style::Surface(style::darkAccent(), 12);
    outer->addWidget(banner);
    auto* layout = new QHBoxLayout(banner);
    layout->setContentsMargins(18, 14, 18, 14);
    layout->setSpacing(14);
    layout->addWidget(symbolLabel(QStringLiteral("record-fill"), 26, style::primaryText()));
    m_viewers = style::label(QString(), 14, style::grey(0.85), QFont::Normal, true);
    m_viewers->setObjectName(QStringLiteral("bannerViewers"));
    layout->addWidget(rows::stacked(style::label(tr("Your screen is being shared"), 18,
                                                 style::primaryText(), QFont::Bold),
                                    m_viewers),
                      1);
    auto* stop = style::plainButton(tr("Stop"), style::primaryText());
    stop->setObjectName(QStringLiteral("stopSharing"));
    connect(stop, &QPushButton::clicked, this, [this] { m_server.stopScreenSharing(); });
    layout->addWidget(stop);
    follow(
        server, this, [this] { refresh(); }, &OrvaneServer::screenViewersChanged);
}

void SharingBanner::refresh()
{
    const QStringList& viewers = m_server.screenViewerNames();
    setVisible(!viewers.isEmpty());
    m_viewers->setText(viewers.join(QStringLiteral(", ")) + tr(" can view and control it"));
}

PairingPausedBanner::PairingPausedBanner(OrvaneServer& server, QWidget* parent)
    : QWidget(parent), m_server(server), m_recheck(new QTimer(this))
{
    setObjectName(QStringLiteral("pairingPaused"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* banner = new style::Surface(style::grey(0.16), 12);
    outer->addWidget(banner);
    auto* layout = new QHBoxLayout(banner);
    layout->setContentsMargins(18, 14, 18, 14);
    layout->setSpacing(14);
    layout->addWidget(
        rows::stacked(
            style::label(tr("Pairing is paused"), 16, style::primaryText(), QFont::Bold),
            style::label(tr("Too many wrong codes were typed. Allow pairing if it was you."), 13,
                         style::grey(0.85), QFont::Normal, true)),
        1);
    auto* allow = style::plainButton(tr("Allow Pairing"), style::primaryText());
    allow->setObjectName(QStringLiteral("liftPause"));
    connect(allow, &QPushButton::clicked, this, [this] {
        m_server.liftPairingPause();
        refresh();
    });
    layout->addWidget(allow);
    m_recheck->setInterval(1000);
    connect(m_recheck, &QTimer::timeout, this, [this] { refresh(); });
    // A pause begins with its activity line.
    follow(
        server, this, [this] { refresh(); }, &OrvaneServer::activityChanged);
}

void PairingPausedBanner::refresh()
{
    const bool paused = m_server.pairingPaused();
    setVisible(paused);
    if (paused && !m_recheck->isActive())
        m_recheck->start();
    else if (!paused)
        m_recheck->stop();
}

PhonesSection::PhonesSection(OrvaneServer& server, QWidget* parent)
    : QWidget(parent), m_server(server)
{
    setObjectName(QStringLiteral("phonesSection"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(rows::sectionTitle(tr("iPhones")));
    m_connected = new QVBoxLayout;
    m_connected->setSpacing(2);
    layout->addLayout(m_connected);
    layout->addSpacing(8);
    layout->addWidget(style::label(tr("Paired"), 15, style::primaryText(), QFont::DemiBold));
    m_paired = new QVBoxLayout;
    m_paired->setSpacing(2);
    layout->addLayout(m_paired);
    follow(
        server, this, [this] { refreshConnected(); }, &OrvaneServer::pairingRequestChanged,
        &OrvaneServer::devicesChanged, &OrvaneServer::screenViewersChanged);
    follow(
        server, this, [this] { refreshPaired(); }, &OrvaneServer::trustedDevicesChanged);
}

void PhonesSection::refreshConnected()
{
    clearLayout(m_connected);
    const auto& request = m_server.pairingRequest();
    if (request)
        m_connected->addWidget(pairingRow(*request));
    for (const auto& device : m_server.devices())
        m_connected->addWidget(deviceRow(device));
    if (!request && m_server.devices().empty()) {
        auto* none = rows::listRow(
            QStringLiteral("phone"), 20,
            style::label(tr("No iPhone is connected right now."), 16, style::secondaryText()));
        none->setObjectName(QStringLiteral("noPhone"));
        m_connected->addWidget(none);
    }
}

QWidget* PhonesSection::pairingRow(const OrvaneServer::PairingRequest& request)
{
    auto* texts = rows::stacked(
        style::label(request.deviceName + tr(" wants to pair"), 16, style::primaryText()),
        style::label(tr("Enter this code on the iPhone"), 13, style::secondaryText()));
    auto* trailing = new QWidget;
    auto* layout = new QHBoxLayout(trailing);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    auto* code = new CodeCells(CodeCells::small);
    code->setObjectName(QStringLiteral("code"));
    code->setCode(request.code);
    layout->addWidget(code);
    auto* decline = style::plainButton(tr("Decline"));
    decline->setObjectName(QStringLiteral("decline"));
    connect(decline, &QPushButton::clicked, this, [this] { m_server.declinePairing(); });
    layout->addWidget(decline);
    auto* row = rows::listRow(QStringLiteral("lock-phone"), 20, texts, trailing);
    row->setObjectName(QStringLiteral("pairingRow"));
    return row;
}

QWidget* PhonesSection::deviceRow(const OrvaneServer::Device& device)
{
    auto* status = new QWidget;
    auto* line = new QHBoxLayout(status);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(6);
    line->addWidget(style::dot(style::green()));
    auto* text = style::label(
        phoneStatus(device.name, m_server.screenViewerNames(), m_server.previewViewerNames()), 14,
        style::secondaryText());
    text->setObjectName(QStringLiteral("phoneStatus"));
    line->addWidget(text, 1);
    auto* row =
        rows::listRow(QStringLiteral("phone"), 20,
                      rows::stacked(style::label(device.name, 16, style::primaryText()), status));
    row->setObjectName(QStringLiteral("deviceRow"));
    return row;
}

void PhonesSection::refreshPaired()
{
    clearLayout(m_paired);
    for (const auto& device : m_server.trustedDevices())
        m_paired->addWidget(pairedRow(device));
}

QWidget* PhonesSection::pairedRow(const TrustedDevice& device)
{
    QDateTime paired = QDateTime::fromSecsSinceEpoch(
        static_cast<qint64>(device.pairedAt + referenceDateOffset), Qt::UTC);
    QString date = QLocale().toString(paired.toLocalTime().date(), QStringLiteral("MMM d, yyyy"));
    auto* texts = rows::stacked(style::label(nameOf(device), 16, style::primaryText()),
                                style::label(tr("Paired on ") + date, 13, style::secondaryText()));
    auto* forget = style::plainButton(tr("Forget"));
    forget->setObjectName(QStringLiteral("forget"));
    Uuid id = device.id;
    connect(forget, &QPushButton::clicked, this, [this, id] { m_server.forgetDevice(id); });
    auto* row = rows::listRow(QStringLiteral("seal-check"), 18, texts, forget);
    row->setObjectName(QStringLiteral("pairedRow"));
    return row;
}

} // namespace orvane
