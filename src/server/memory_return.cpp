#include "memory_return.h"

#include <QTimer>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace orvane {

namespace {
constexpr int trimDelayMs = 1000;
bool trimPending = false;
} // namespace

void returnFreedMemorySoon()
{
#if defined(__GLIBC__)
    if (trimPending)
        return;
    trimPending = true;
    QTimer::singleShot(trimDelayMs, [] {
        trimPending = false;
        ::malloc_trim(0);
    });
#endif
}

} // namespace orvane
