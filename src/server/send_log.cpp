#include "send_log.h"

#include "platform/diagnostics.h"

namespace orvane {

void logSendFailure(const QString& error)
{
    qCInfo(diagnostics).noquote() << "Orvane gönderim hatası:" << error;
}

void logRelaySendFailure(const QString& error)
{
    qCInfo(diagnostics).noquote() << "Orvane röle gönderim hatası:" << error;
}

} // namespace orvane
