#include "tray_panel.h"

#include "desktop_session.h"
#include "desktop_words.h"
#include "follow.h"
#include "permission_help.h"
#include "phones_section.h"
#include "rows.h"
#include "style.h"
#include "symbols.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>

namespace orvane {

namespace {

constexpr int panelWidth = 300;
constexpr int padding = 12;

QLabel* caption(const QString& text, QFont::Weight weight = QFont::Normal)
{
    return style::label(text, 12, style::secondaryText(), weight, true);
}

// A symbol and a line of text side by side.
QWidget* symbolRow(const QString& symbolName, const QColor& colour, QLabel* text)
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(symbolLabel(symbolName, 16, colour), 0, Qt::AlignTop);
    layout->addWidget(text, 1);
    return row;
}

// A phone's name on one line; the panel's width is fixed, so a long name
// gives way in its middle instead of asking for more.
ElidedLabel* nameLabel(const QString& name)
{
    auto* label = new ElidedLabel(name, 13, style::primaryText());
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return label;
}

} // namespace

TrayPanel::TrayPanel(OrvaneServer& server, Actions actions, QWidget* parent)
    : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint), m_server(server),
      m_actions(std::move(actions))
{
    setObjectName(QStringLiteral("trayPanel"));
    setWindowTitle(QStringLiteral("Orvane"));
    setFixedWidth(panelWidth);
    style::setBackground(this, style::cardBackground());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(padding, padding, padding, padding);
    layout->setSpacing(8);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(makeHeader());
    m_status = caption(QString());
    m_status->setObjectName(QStringLiteral("statusLine"));
    layout->addWidget(m_status);
    layout->addWidget(makeSharingRow());

    layout->addWidget(style::dividerLine());
    layout->addWidget(caption(tr("Connected devices"), QFont::DemiBold));
    m_devices = new QVBoxLayout;
    m_devices->setSpacing(6);
    layout->addLayout(m_devices);

    layout->addWidget(makeTrustedSection());

    layout->addWidget(style::dividerLine());
    layout->addWidget(makeAccessibilityRow());
    m_mediaDenied = symbolRow(
        QStringLiteral("music-note"), style::orange(),
        style::label(tr("A media player refused Orvane: a sandbox such as Flatpak's keeps it out."),
                     13, style::orange(), QFont::Normal, true));
    m_mediaDenied->setObjectName(QStringLiteral("mediaDenied"));
    layout->addWidget(m_mediaDenied);
    m_lastCommand = caption(QString());
    m_lastCommand->setObjectName(QStringLiteral("lastCommand"));
    layout->addWidget(m_lastCommand);
    if (QWidget* warning = desktopRouteRow(12, true))
        layout->addWidget(warning);
    layout->addWidget(style::dividerLine());
    layout->addWidget(makeFooter());

    follow(
        server.status(), this, [this] { refreshStatus(); }, &ServerStatus::isListeningChanged,
        &ServerStatus::errorMessageChanged, &ServerStatus::advertisedNameChanged);
    follow(
        server.status(), this, [this] { refreshSharing(); }, &ServerStatus::screenViewersChanged);
    follow(
        server.status(), this, [this] { refreshDevices(); }, &ServerStatus::devicesChanged);
    follow(
        server.status(), this, [this] { refreshTrusted(); }, &ServerStatus::trustedDevicesChanged);
    follow(
        server.status(), this, [this] { refreshPermissions(); },
        &ServerStatus::accessibilityGrantedChanged, &ServerStatus::mediaPermissionDeniedChanged,
        &ServerStatus::lastCommandChanged);
}

QWidget* TrayPanel::makeHeader()
{
    auto* header = new QWidget;
    auto* layout = new QHBoxLayout(header);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(
        style::label(QStringLiteral("Orvane"), 15, style::primaryText(), QFont::Bold));
    layout->addStretch(1);
    m_dot = style::dot(style::accent());
    m_dot->setObjectName(QStringLiteral("listeningDot"));
    layout->addWidget(m_dot);
    return header;
}

// The divider and the title go with the rows: none of it without a phone.
QWidget* TrayPanel::makeTrustedSection()
{
    m_trustedSection = new QWidget;
    auto* trusted = new QVBoxLayout(m_trustedSection);
    trusted->setContentsMargins(0, 0, 0, 0);
    trusted->addWidget(style::dividerLine());
    trusted->addWidget(caption(tr("Paired devices"), QFont::DemiBold));
    m_trusted = new QVBoxLayout;
    trusted->addLayout(m_trusted);
    return m_trustedSection;
}

QWidget* TrayPanel::makeSharingRow()
{
    auto* row = new style::Surface(style::darkAccent(), 8);
    row->setObjectName(QStringLiteral("sharingRow"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(10, 8, 10, 8);
    layout->setSpacing(10);
    layout->addWidget(symbolLabel(QStringLiteral("record-fill"), 20, style::accent()));
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(style::label(tr("Sharing screen"), 14, style::primaryText(), QFont::DemiBold));
    m_viewers = new ElidedLabel(QString(), 12, style::secondaryText());
    m_viewers->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_viewers->setObjectName(QStringLiteral("viewerNames"));
    texts->addWidget(m_viewers);
    layout->addLayout(texts, 1);
    auto* stop = style::plainButton(tr("Stop"), style::primaryText());
    stop->setObjectName(QStringLiteral("stopSharing"));
    connect(stop, &QPushButton::clicked, this, [this] { m_server.stopScreenSharing(); });
    layout->addWidget(stop);
    m_sharingRow = row;
    return row;
}

QWidget* TrayPanel::makeAccessibilityRow()
{
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    m_accessibilityGranted =
        symbolRow(QStringLiteral("shield-check"), style::green(),
                  style::label(tr("Phones can type and click"), 13, style::primaryText()));
    m_accessibilityGranted->setObjectName(QStringLiteral("accessibilityGranted"));
    layout->addWidget(m_accessibilityGranted);

    m_accessibilityMissing = new QWidget;
    m_accessibilityMissing->setObjectName(QStringLiteral("accessibilityMissing"));
    auto* missing = new QVBoxLayout(m_accessibilityMissing);
    missing->setContentsMargins(0, 0, 0, 0);
    missing->setSpacing(8);
    missing->addWidget(
        symbolRow(QStringLiteral("shield-alert"), style::orange(),
                  style::label(tr("Phones can't type or click: this needs an X display with XTEST"),
                               13, style::orange(), QFont::Normal, true)));
    auto* allow = style::plainButton(tr("How to Fix…"));
    allow->setObjectName(QStringLiteral("fixInput"));
    connect(allow, &QPushButton::clicked, this, [this] {
        hide();
        showServiceHelp(DesktopChecks::Service::input, nullptr);
    });
    missing->addWidget(allow, 0, Qt::AlignLeft);
    layout->addWidget(m_accessibilityMissing);
    return box;
}

QWidget* TrayPanel::makeFooter()
{
    auto* footer = new QWidget;
    auto* layout = new QVBoxLayout(footer);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* open = style::plainButton(tr("Open Orvane Window"), style::primaryText());
    open->setObjectName(QStringLiteral("openWindow"));
    auto* quit = style::plainButton(tr("Quit Orvane"), style::primaryText());
    quit->setObjectName(QStringLiteral("quit"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(open, &QPushButton::clicked, this, [this] {
        hide();
        if (m_actions.openWindow)
            m_actions.openWindow();
    });
    connect(quit, &QPushButton::clicked, this, [this] {
        if (m_actions.quit)
            m_actions.quit();
    });
    layout->addWidget(open);
    layout->addWidget(quit);
    return footer;
}

void TrayPanel::refreshStatus()
{
    style::setDotColour(m_dot, m_server.status().isListening() ? style::green() : style::accent());
    if (m_server.status().isListening() && !m_server.status().advertisedName().isEmpty())
        m_status->setText(tr("Visible on the network as") + QStringLiteral(" \"") +
                          m_server.status().advertisedName() + QLatin1Char('"'));
    else if (m_server.status().isListening())
        m_status->setText(notAdvertisedText(m_server.status().port()));
    else if (!m_server.status().errorMessage().isEmpty())
        m_status->setText(m_server.status().errorMessage());
    else
        m_status->setText(tr("Starting…"));
}

void TrayPanel::refreshSharing()
{
    m_sharingRow->setVisible(someoneWatches(m_server));
    m_viewers->setFullText(watchersLine(m_server.status().screenViewerNames(),
                                        m_server.status().previewViewerNames()));
}

void TrayPanel::refreshDevices()
{
    clearLayout(m_devices);
    if (m_server.status().devices().empty()) {
        auto* none = style::label(tr("Open Orvane on your phone; on the same network it connects "
                                     "by itself."),
                                  13, style::secondaryText(), QFont::Normal, true);
        none->setObjectName(QStringLiteral("noDevices"));
        m_devices->addWidget(none);
    }
    for (const auto& device : m_server.status().devices()) {
        auto* row =
            symbolRow(QStringLiteral("phone"), style::primaryText(), nameLabel(device.name));
        row->setObjectName(QStringLiteral("deviceRow"));
        m_devices->addWidget(row);
    }
    adjustSize();
}

void TrayPanel::refreshTrusted()
{
    clearLayout(m_trusted);
    m_trustedSection->setVisible(!m_server.status().trustedDevices().empty());
    for (const auto& device : m_server.status().trustedDevices()) {
        auto* row = symbolRow(QStringLiteral("seal-check"), style::primaryText(),
                              nameLabel(nameOf(device)));
        row->setObjectName(QStringLiteral("trustedRow"));
        auto* forget = style::plainButton(tr("Forget"), style::accent(), Qt::transparent);
        forget->setObjectName(QStringLiteral("forget"));
        Uuid id = device.id;
        QString name = nameOf(device);
        connect(forget, &QPushButton::clicked, this, [this, id, name] {
            hide();
            rows::askToForget(nullptr, name, [this, id] { m_server.forgetDevice(id); });
        });
        row->layout()->addWidget(forget);
        m_trusted->addWidget(row);
    }
    adjustSize();
}

void TrayPanel::refreshPermissions()
{
    m_accessibilityGranted->setVisible(m_server.status().accessibilityGranted());
    m_accessibilityMissing->setVisible(!m_server.status().accessibilityGranted());
    m_mediaDenied->setVisible(m_server.status().mediaPermissionDenied());
    m_lastCommand->setVisible(!m_server.status().lastCommand().isEmpty());
    m_lastCommand->setText(rows::breakable(tr("Last command: ") +
                                           withDesktopKeyNames(m_server.status().lastCommand())));
    adjustSize();
}

void TrayPanel::popUpAt(const QPoint& point)
{
    adjustSize();
    QScreen* screen = QGuiApplication::screenAt(point);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    QRect area = screen ? screen->availableGeometry() : QRect(point, size());
    QPoint topLeft = point;
    topLeft.setX(
        std::clamp(topLeft.x(), area.left(), std::max(area.left(), area.right() - width())));
    topLeft.setY(
        std::clamp(topLeft.y(), area.top(), std::max(area.top(), area.bottom() - height())));
    move(topLeft);
    show();
    raise();
    activateWindow();
}

} // namespace orvane
