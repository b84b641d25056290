#pragma once

namespace shared::platform {

// Large buffers (download bodies, decoded chunks of 4 to 16 MiB) go back to the system when they
// are freed. By default glibc raises its mapping threshold after the first such buffer is freed,
// and from then on keeps them in its heaps, where the steady churn of bodies of varying size
// fragments into a resident size far above what is in use at any moment. Call once, first thing
// in main().
void returnLargeBuffersToTheSystem();

} // namespace shared::platform
