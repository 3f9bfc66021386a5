#include "send_log.h"

#include <cstdio>

namespace orvane {

void logSendFailure(const QString& error)
{
    std::fprintf(stderr, "Orvane gönderim hatası: %s\n", error.toUtf8().constData());
}

void logRelaySendFailure(const QString& error)
{
    std::fprintf(stderr, "Orvane röle gönderim hatası: %s\n", error.toUtf8().constData());
}

} // namespace orvane
