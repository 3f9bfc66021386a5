#pragma once

#include <QString>

namespace orvane {

// The one diagnostic line for a direct send that failed.
void logSendFailure(const QString& error);
// The same for a relay send.
void logRelaySendFailure(const QString& error);

} // namespace orvane
