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

bool someoneWatches(const OrvaneServer& server)
{
    return !server.status().screenViewerNames().isEmpty() ||
           !server.status().previewViewerNames().isEmpty();
}

QString watchersLine(const QStringList& viewers, const QStringList& previews)
{
    const QString names = QStringLiteral(", ");
    QStringList parts;
    if (!viewers.isEmpty())
        parts << viewers.join(names) + QWidget::tr(" can view and control it");
    // Someone who also views the whole screen is named once.
    QStringList onlyPreviews = previews;
    onlyPreviews.removeIf([&](const QString& name) { return viewers.contains(name); });
    if (!onlyPreviews.isEmpty())
        parts << onlyPreviews.join(names) + (onlyPreviews.size() == 1
                                                 ? QWidget::tr(" sees a small preview")
                                                 : QWidget::tr(" see a small preview"));
    return parts.join(QStringLiteral("; "));
}

SharingBanner::SharingBanner(OrvaneServer& server, QWidget* parent)
    : QWidget(parent), m_server(server)
{
    setObjectName(QStringLiteral("sharingBanner"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    m_surface = new style::Surface(style::cardBackground(), 12);
    outer->addWidget(m_surface);
    auto* layout = new QHBoxLayout(m_surface);
    layout->setContentsMargins(18, 12, 18, 12);
    layout->setSpacing(14);
    m_symbol = symbolLabel(QStringLiteral("record"), 26, style::secondaryText());
    layout->addWidget(m_symbol);
    m_title = style::label(QString(), 16, style::primaryText(), QFont::Bold);
    m_title->setObjectName(QStringLiteral("bannerTitle"));
    m_viewers = new ElidedLabel(QString(), 13, style::grey(0.85));
    m_viewers->setObjectName(QStringLiteral("bannerViewers"));
    layout->addWidget(rows::stacked(m_title, m_viewers), 1);
    m_stop = style::plainButton(tr("Stop"), style::primaryText());
    m_stop->setObjectName(QStringLiteral("stopSharing"));
    // Its room stays while it is hidden: the strip never changes height.
    QSizePolicy keep = m_stop->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    m_stop->setSizePolicy(keep);
    connect(m_stop, &QPushButton::clicked, this, [this] { m_server.stopScreenSharing(); });
    layout->addWidget(m_stop);
    follow(
        server.status(), this, [this] { refresh(); }, &ServerStatus::screenViewersChanged);
}

void SharingBanner::refresh()
{
    const bool watched = someoneWatches(m_server);
    m_surface->setColour(watched ? style::darkAccent() : style::cardBackground());
    m_symbol->setPixmap(symbol(watched ? QStringLiteral("record-fill") : QStringLiteral("record"),
                               26, watched ? style::primaryText() : style::secondaryText(),
                               devicePixelRatioF()));
    m_title->setText(watched ? tr("Your screen is being shared")
                             : tr("Nobody is watching your screen"));
    m_viewers->setFullText(watched ? watchersLine(m_server.status().screenViewerNames(),
                                                  m_server.status().previewViewerNames())
                                   : tr("Phones that watch it are named here."));
    m_stop->setVisible(watched);
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
        server.status(), this, [this] { refresh(); }, &ServerStatus::activityChanged);
}

void PairingPausedBanner::refresh()
{
    const bool paused = m_server.status().pairingPaused();
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
    layout->addWidget(rows::sectionTitle(tr("Phones")));
    m_connected = new QVBoxLayout;
    m_connected->setSpacing(2);
    layout->addLayout(m_connected);
    layout->addSpacing(8);
    layout->addWidget(style::label(tr("Paired"), 15, style::primaryText(), QFont::DemiBold));
    m_paired = new QVBoxLayout;
    m_paired->setSpacing(2);
    layout->addLayout(m_paired);
    follow(
        server.status(), this, [this] { refreshConnected(); }, &ServerStatus::pairingRequestChanged,
        &ServerStatus::devicesChanged, &ServerStatus::screenViewersChanged);
    follow(
        server.status(), this, [this] { refreshPaired(); }, &ServerStatus::trustedDevicesChanged);
}

void PhonesSection::refreshConnected()
{
    clearLayout(m_connected);
    const auto& request = m_server.status().pairingRequest();
    if (request)
        m_connected->addWidget(pairingRow(*request));
    for (const auto& device : m_server.status().devices())
        m_connected->addWidget(deviceRow(device));
    if (!request && m_server.status().devices().empty()) {
        auto* none = rows::listRow(
            QStringLiteral("phone"), 20,
            style::label(tr("No phone is connected right now."), 16, style::secondaryText()));
        none->setObjectName(QStringLiteral("noPhone"));
        m_connected->addWidget(none);
    }
}

// The code goes under the words, so that a long name or a narrow window
// never pushes Decline out of sight.
QWidget* PhonesSection::pairingRow(const ServerStatus::PairingRequest& request)
{
    auto* name = new ElidedLabel(request.deviceName, 16, style::primaryText());
    name->setObjectName(QStringLiteral("pairingName"));
    auto* code = new CodeCells(CodeCells::small);
    code->setObjectName(QStringLiteral("code"));
    code->setCode(request.code);
    auto* texts = rows::stacked({name,
                                 style::label(tr("Wants to pair. Enter this code on the phone:"),
                                              13, style::secondaryText(), QFont::Normal, true),
                                 code},
                                6);
    auto* decline = style::plainButton(tr("Decline"));
    decline->setObjectName(QStringLiteral("decline"));
    connect(decline, &QPushButton::clicked, this, [this] { m_server.declinePairing(); });
    auto* row = rows::listRow(QStringLiteral("lock-phone"), 20, texts, decline);
    row->setObjectName(QStringLiteral("pairingRow"));
    return row;
}

QWidget* PhonesSection::deviceRow(const ServerStatus::Device& device)
{
    auto* status = new QWidget;
    auto* line = new QHBoxLayout(status);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(6);
    line->addWidget(style::dot(style::green()));
    auto* text = style::label(phoneStatus(device.name, m_server.status().screenViewerNames(),
                                          m_server.status().previewViewerNames()),
                              14, style::secondaryText());
    text->setObjectName(QStringLiteral("phoneStatus"));
    line->addWidget(text, 1);
    auto* row = rows::listRow(
        QStringLiteral("phone"), 20,
        rows::stacked(new ElidedLabel(device.name, 16, style::primaryText()), status));
    row->setObjectName(QStringLiteral("deviceRow"));
    return row;
}

void PhonesSection::refreshPaired()
{
    clearLayout(m_paired);
    for (const auto& device : m_server.status().trustedDevices())
        m_paired->addWidget(pairedRow(device));
}

QWidget* PhonesSection::pairedRow(const TrustedDevice& device)
{
    QDateTime paired = QDateTime::fromSecsSinceEpoch(
        static_cast<qint64>(device.pairedAt + referenceDateOffset), Qt::UTC);
    QString date = QLocale().toString(paired.toLocalTime().date(), QStringLiteral("MMM d, yyyy"));
    auto* texts = rows::stacked(new ElidedLabel(nameOf(device), 16, style::primaryText()),
                                style::label(tr("Paired on ") + date, 13, style::secondaryText()));
    auto* forget = style::plainButton(tr("Forget"));
    forget->setObjectName(QStringLiteral("forget"));
    Uuid id = device.id;
    QString name = nameOf(device);
    connect(forget, &QPushButton::clicked, this, [this, id, name] {
        rows::askToForget(this, name, [this, id] { m_server.forgetDevice(id); });
    });
    auto* row = rows::listRow(QStringLiteral("seal-check"), 18, texts, forget);
    row->setObjectName(QStringLiteral("pairedRow"));
    return row;
}

} // namespace orvane
