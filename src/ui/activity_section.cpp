#include "activity_section.h"

#include "desktop_words.h"
#include "follow.h"
#include "rows.h"
#include "style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>

namespace orvane {

ActivitySection::ActivitySection(OrvaneServer& server, QWidget* parent)
    : QWidget(parent), m_server(server)
{
    setObjectName(QStringLiteral("activitySection"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(rows::sectionTitle(tr("Recent Activity")));
    m_entries = new QVBoxLayout;
    m_entries->setSpacing(12);
    layout->addLayout(m_entries);
    follow(
        server.status(), this, [this] { refresh(); }, &ServerStatus::activityChanged);
}

void ActivitySection::refresh()
{
    clearLayout(m_entries);
    if (m_server.status().activity().empty()) {
        auto* none = style::label(tr("Commands sent from your phone will appear here."), 16,
                                  style::secondaryText(), QFont::Normal, true);
        none->setObjectName(QStringLiteral("noActivity"));
        m_entries->addWidget(none);
    }
    for (const auto& entry : m_server.status().activity())
        m_entries->addWidget(entryRow(entry));
}

QWidget* ActivitySection::entryRow(const ActivityEntry& entry)
{
    auto* row = new QWidget;
    row->setObjectName(entry.success ? QStringLiteral("activityRow")
                                     : QStringLiteral("failedActivityRow"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    auto* time =
        style::label(QLocale().toString(entry.date.toLocalTime().time(), QLocale::ShortFormat), 13,
                     style::secondaryText());
    time->setFixedWidth(48);
    layout->addWidget(time, 0, Qt::AlignTop);

    auto* capsule = new style::Surface(style::raised(), 10);
    auto* inside = new QHBoxLayout(capsule);
    inside->setContentsMargins(9, 2, 9, 2);
    auto* device = new ElidedLabel(entry.device, 14, style::primaryText(), QFont::DemiBold);
    device->setMaximumWidth(160);
    inside->addWidget(device);
    layout->addWidget(capsule, 0, Qt::AlignTop);

    auto* text =
        style::label(rows::breakable(withDesktopKeyNames(entry.text)), 14,
                     entry.success ? style::primaryText() : style::accent(), QFont::Normal, true);
    text->setObjectName(QStringLiteral("activityText"));
    layout->addWidget(text, 1, Qt::AlignTop);
    return row;
}

} // namespace orvane
