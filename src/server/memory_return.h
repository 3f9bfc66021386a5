#pragma once

namespace orvane {

// After a large frame has been handled, the allocator keeps the pages it
// freed for reuse, so one big message would leave the process large for
// good. Shortly afterwards, give them back to the system; several large
// frames in a row cost one trim.
void returnFreedMemorySoon();

} // namespace orvane
