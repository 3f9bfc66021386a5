#pragma once

#include <QString>

namespace orvane {

// The one diagnostic line for a direct send that failed. A phone that hung
// up is the normal end of a connection, not a failure: callers leave it out.
void logSendFailure(const QString& error);
// The same for a relay send.
void logRelaySendFailure(const QString& error);

} // namespace orvane
