#include "main_window.h"

#include "activity_section.h"
#include "desktop_session.h"
#include "permissions_section.h"
#include "phones_section.h"
#include "settings_sections.h"
#include "style.h"
#include "symbols.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QScrollArea>
#include <QShortcut>
#include <QStyle>
#include <QVBoxLayout>

namespace orvane {

namespace {
constexpr int sideMargin = 28;
} // namespace

MainWindow::MainWindow(OrvaneServer& server, DesktopChecks& checks, MachineCard::Loader loader,
                       std::function<void()> quit, QWidget* parent)
    : QWidget(parent), m_server(server)
{
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Orvane"));
    setWindowIcon(applicationIcon());
    setMinimumSize(860, 600);
    resize(920, 640);
    style::setBackground(this, style::windowBackground());

    auto* columns = new QHBoxLayout(this);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);
    auto* left = new style::Surface(style::cardBackground());
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    m_card = new MachineCard(server, std::move(loader));
    leftLayout->addWidget(m_card);
    columns->addWidget(left);
    columns->addWidget(makeRightColumn(checks), 1);

    // Without a tray icon this is the way out of the program.
    auto* quitKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    connect(quitKey, &QShortcut::activated, this, [quit] {
        if (quit)
            quit();
    });
}

QWidget* MainWindow::makeRightColumn(DesktopChecks& checks)
{
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("sections"));
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(sideMargin, 28, sideMargin, 36);
    layout->setSpacing(40);
    if (QWidget* warning = desktopRouteRow(14, false))
        layout->addWidget(warning);
    layout->addWidget(new PairingPausedBanner(m_server));
    layout->addWidget(new PhonesSection(m_server));
    layout->addWidget(new PermissionsSection(m_server, checks));
    layout->addWidget(new PowerSection(m_server));
    layout->addWidget(new ActivitySection(m_server));
    layout->addStretch(1);

    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("rightColumn"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(content);
    scroll->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);

    // The banner stands above the scrolled sections, always: its coming and
    // going moves nothing.
    auto* column = new QWidget;
    auto* stack = new QVBoxLayout(column);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    auto* banner = new QWidget;
    auto* bannerLayout = new QVBoxLayout(banner);
    // Lined up with the sections, which leave room for the scroll bar.
    const int scrollBar = scroll->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    bannerLayout->setContentsMargins(sideMargin, 20, sideMargin + scrollBar, 4);
    bannerLayout->addWidget(new SharingBanner(m_server));
    stack->addWidget(banner);
    stack->addWidget(scroll, 1);
    return column;
}

void MainWindow::addSettingsSection(QWidget* section)
{
    auto* power = findChild<QWidget*>(QStringLiteral("powerSection"));
    auto* sections = static_cast<QVBoxLayout*>(power->parentWidget()->layout());
    sections->insertWidget(sections->indexOf(power) + 1, section);
}

void MainWindow::present()
{
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void MainWindow::showEvent(QShowEvent* event)
{
    // The window manager restoring the window is not a new appearance.
    if (!event->spontaneous())
        m_card->load();
    QWidget::showEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    hide();
    event->ignore();
}

} // namespace orvane
