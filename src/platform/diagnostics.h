#pragma once

#include <QLoggingCategory>

namespace orvane {

// Lines for whoever looks into a problem: a send that failed, what a helper
// program wrote to its error output. A person at the terminal sees them only
// with --verbose; under systemd they still reach the journal.
inline const QLoggingCategory& diagnostics()
{
    static const QLoggingCategory category("orvane.diagnostics");
    return category;
}

} // namespace orvane
