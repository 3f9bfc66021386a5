#include "desktop_session.h"

#include "style.h"
#include "symbols.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>

namespace orvane {

bool waylandSession()
{
    return qEnvironmentVariable("XDG_SESSION_TYPE")
                   .compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0 ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

QWidget* waylandWarningRow(int textPixelSize)
{
    if (!waylandSession())
        return nullptr;
    auto* row = new style::Surface(style::warningBackground(), 8);
    row->setObjectName(QStringLiteral("waylandWarning"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(10, 8, 10, 8);
    layout->setSpacing(8);
    layout->addWidget(symbolLabel(QStringLiteral("warning"), 16, style::orange()), 0, Qt::AlignTop);
    layout->addWidget(
        style::label(QCoreApplication::translate(
                         "orvane", "This is a Wayland session: keys, the pointer, windows and "
                                   "screen sharing reach only X11 programs, through XWayland."),
                     textPixelSize, style::orange(), QFont::Normal, true),
        1);
    return row;
}

} // namespace orvane
