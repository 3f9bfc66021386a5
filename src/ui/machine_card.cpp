#include "machine_card.h"

#include "follow.h"
#include "style.h"
#include "symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace orvane {

namespace {
constexpr int pictureHeight = 190;
} // namespace

QString modelLine(const MacInfo& info)
{
    static const QStringList phoneStandIns = {QStringLiteral("Mac"),
                                              QStringLiteral("Apple silikon")};
    QStringList parts;
    for (const std::string& part : {info.modelName, info.chip, info.systemVersion}) {
        QString text = QString::fromStdString(part).trimmed();
        if (!text.isEmpty() && !phoneStandIns.contains(text))
            parts << text;
    }
    if (parts.isEmpty())
        return QWidget::tr("This computer does not say what it is");
    return parts.join(QStringLiteral(" · "));
}

MachineCard::MachineCard(OrvaneServer& server, Loader loader, QWidget* parent)
    : QWidget(parent), m_server(server), m_loader(std::move(loader))
{
    setObjectName(QStringLiteral("machineCard"));
    setFixedWidth(340);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 28, 28, 28);
    layout->setSpacing(24);
    m_picture = symbolLabel(QStringLiteral("laptop"), 96, style::primaryText());
    m_picture->setObjectName(QStringLiteral("picture"));
    m_picture->setFixedHeight(pictureHeight);
    m_picture->setMinimumWidth(0);
    m_picture->setMaximumWidth(QWIDGETSIZE_MAX);
    layout->addWidget(m_picture);

    auto* name = new QVBoxLayout;
    name->setSpacing(4);
    auto* title = style::label(server.computerName(), 30, style::primaryText(), QFont::Bold, true);
    title->setObjectName(QStringLiteral("computerName"));
    name->addWidget(title);
    m_model = style::label(QString(), 14, style::secondaryText(), QFont::Normal, true);
    m_model->setObjectName(QStringLiteral("modelLine"));
    m_model->hide();
    name->addWidget(m_model);
    layout->addLayout(name);

    auto* reach = new QHBoxLayout;
    reach->setSpacing(8);
    m_dot = style::dot(style::accent());
    m_dot->setObjectName(QStringLiteral("listeningDot"));
    reach->addWidget(m_dot);
    m_reachability = style::label(QString(), 16, style::primaryText(), QFont::DemiBold, true);
    m_reachability->setObjectName(QStringLiteral("reachability"));
    reach->addWidget(m_reachability, 1);
    layout->addLayout(reach);

    layout->addWidget(
        style::label(tr("Open Orvane on your phone. On the same network it finds this computer "
                        "by itself; the first time, you enter the 6-digit code shown here."),
                     16, style::secondaryText(), QFont::Normal, true));
    layout->addStretch(1);
    m_footer = style::label(QString(), 13, style::secondaryText(), QFont::Normal, true);
    m_footer->setObjectName(QStringLiteral("footer"));
    layout->addWidget(m_footer);
    setTrayAvailable(true);
    follow(
        server.status(), this, [this] { refreshReachability(); }, &ServerStatus::isListeningChanged,
        &ServerStatus::errorMessageChanged, &ServerStatus::advertisedNameChanged);
}

void MachineCard::setTrayAvailable(bool available)
{
    m_footer->setText(available ? tr("Orvane keeps running in the tray when you close this "
                                     "window.")
                                : tr("Orvane keeps running when you close this window; start "
                                     "it again from the applications menu to come back."));
}

void MachineCard::load()
{
    if (!m_loader)
        return;
    MacInfo info = m_loader();
    m_model->setText(modelLine(info));
    m_model->show();
    QPixmap picture;
    if (info.imagePNG)
        picture.loadFromData(info.imagePNG->data(), uint(info.imagePNG->size()), "PNG");
    if (!picture.isNull()) {
        int side = pictureHeight * int(devicePixelRatioF());
        picture = picture.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        picture.setDevicePixelRatio(devicePixelRatioF());
        m_picture->setPixmap(picture);
        m_picture->setProperty("symbol", QVariant());
    }
}

void MachineCard::refreshReachability()
{
    bool listening = m_server.status().isListening();
    style::setDotColour(m_dot, listening ? style::green() : style::accent());
    if (listening && !m_server.status().advertisedName().isEmpty())
        m_reachability->setText(tr("Visible on the network"));
    else if (listening)
        m_reachability->setText(notAdvertisedText(m_server.status().port()));
    else if (!m_server.status().errorMessage().isEmpty())
        m_reachability->setText(m_server.status().errorMessage());
    else
        m_reachability->setText(tr("Starting"));
}

} // namespace orvane
