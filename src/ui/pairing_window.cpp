#include "pairing_window.h"

#include "code_cells.h"
#include "follow.h"
#include "qr_image.h"
#include "rows.h"
#include "style.h"
#include "symbols.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

namespace orvane {

namespace {

constexpr int panelWidth = 360;
constexpr int qrPoints = 150;
constexpr int qrInset = 10;

QWidget* qrFrame(QLabel* image)
{
    auto* frame = new style::Surface(Qt::white, 12);
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(qrInset, qrInset, qrInset, qrInset);
    image->setFixedSize(qrPoints, qrPoints);
    layout->addWidget(image);
    frame->setFixedSize(qrPoints + 2 * qrInset, qrPoints + 2 * qrInset);
    return frame;
}

// The QR code on white, with the line that says what it is for.
QWidget* qrSection(QLabel* image)
{
    auto* section = new QWidget;
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(qrFrame(image), 0, Qt::AlignHCenter);
    auto* scan = style::label(
        QCoreApplication::translate("orvane", "Or scan this with Orvane on your phone."), 12,
        style::secondaryText());
    scan->setAlignment(Qt::AlignHCenter);
    layout->addWidget(scan);
    return section;
}

// The name on a line of its own, the words that go with it on the next: a
// long name gives way in its middle, and no word is left alone.
QLayout* headingLines(QLabel* name)
{
    auto* heading = new QVBoxLayout;
    heading->setSpacing(6);
    name->setAlignment(Qt::AlignHCenter);
    // The panel's width is fixed: a long name must not ask for more.
    name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    heading->addWidget(name);
    auto* wants = style::label(QCoreApplication::translate("orvane", "wants to connect"), 20,
                               style::primaryText(), QFont::DemiBold);
    wants->setAlignment(Qt::AlignHCenter);
    heading->addWidget(wants);
    auto* hint = style::label(
        QCoreApplication::translate("orvane", "Enter this code on your phone to pair."), 14,
        style::secondaryText(), QFont::Normal, true);
    hint->setAlignment(Qt::AlignHCenter);
    heading->addWidget(hint);
    return heading;
}

} // namespace

PairingView::PairingView(OrvaneServer& server, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      m_server(server)
{
    setObjectName(QStringLiteral("pairingPanel"));
    setWindowTitle(tr("Orvane pairing"));
    setFixedWidth(panelWidth);
    style::setBackground(this, style::cardBackground());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 28, 28, 28);
    layout->setSpacing(18);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(symbolLabel(QStringLiteral("phone-waves"), 44, style::accent()), 0,
                      Qt::AlignHCenter);

    m_request = new QWidget;
    auto* request = new QVBoxLayout(m_request);
    request->setContentsMargins(0, 0, 0, 0);
    request->setSpacing(18);
    m_heading = new ElidedLabel(QString(), 20, style::primaryText(), QFont::DemiBold);
    m_heading->setObjectName(QStringLiteral("heading"));
    request->addLayout(headingLines(m_heading));

    m_code = new CodeCells(CodeCells::large);
    m_code->setObjectName(QStringLiteral("code"));
    request->addWidget(m_code, 0, Qt::AlignHCenter);

    m_qr = new QLabel;
    m_qr->setObjectName(QStringLiteral("qrCode"));
    m_qrSection = qrSection(m_qr);
    request->addWidget(m_qrSection);

    m_attempts = style::label(QString(), 12, style::orange());
    m_attempts->setObjectName(QStringLiteral("attemptsWarning"));
    m_attempts->setAlignment(Qt::AlignHCenter);
    request->addWidget(m_attempts);

    auto* decline = style::plainButton(tr("Decline"));
    decline->setObjectName(QStringLiteral("decline"));
    connect(decline, &QPushButton::clicked, this, [this] { m_server.declinePairing(); });
    request->addWidget(decline, 0, Qt::AlignHCenter);
    // Escape is the cancel key of the panel, as its Decline button.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, decline, &QPushButton::click);
    layout->addWidget(m_request);

    follow(
        server.status(), this, [this] { refresh(); }, &ServerStatus::pairingRequestChanged);
}

void PairingView::refresh()
{
    const auto& request = m_server.status().pairingRequest();
    m_request->setVisible(request.has_value());
    if (!request)
        return;
    m_heading->setFullText(request->deviceName);
    m_code->setCode(request->code);
    QImage image = qrCodeImage(m_server.status().pairingUrl());
    m_qrSection->setVisible(!image.isNull());
    if (!image.isNull()) {
        // Each module stays a hard-edged square: no smoothing.
        qreal ratio = devicePixelRatioF();
        QPixmap pixmap = QPixmap::fromImage(image.scaled(
            QSize(qrPoints, qrPoints) * ratio, Qt::IgnoreAspectRatio, Qt::FastTransformation));
        pixmap.setDevicePixelRatio(ratio);
        m_qr->setPixmap(pixmap);
        m_qr->setProperty("payload", m_server.status().pairingUrl());
    }
    m_attempts->setVisible(request->attemptsLeft <= 2);
    m_attempts->setText(tr("Wrong code. %1 attempts left.").arg(request->attemptsLeft));
    adjustSize();
}

void PairingView::closeEvent(QCloseEvent* event)
{
    if (m_server.status().pairingRequest())
        m_server.declinePairing();
    QWidget::closeEvent(event);
}

PairingWindow::PairingWindow(OrvaneServer& server) : m_server(server) {}

PairingWindow::~PairingWindow() = default;

void PairingWindow::show()
{
    if (!m_window)
        m_window = std::make_unique<PairingView>(m_server);
    m_window->adjustSize();
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        QRect frame = m_window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        m_window->move(frame.topLeft());
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void PairingWindow::hide()
{
    if (m_window)
        m_window->hide();
}

} // namespace orvane
