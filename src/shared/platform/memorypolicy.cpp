#include "shared/platform/memorypolicy.h"

#include <malloc.h>

namespace shared::platform {

void returnLargeBuffersToTheSystem()
{
    // Below the smallest chunk, above the many small allocations of Qt and the documents. A fixed
    // threshold also stops glibc from adjusting it. Mapping each buffer anew costs a few percent
    // of an install's time; the peak of a fresh install drops from 210-260 MiB to about 150 MiB
    // and no longer depends on the package's size.
    constexpr int kMappedFromBytes = 2 * 1024 * 1024;
    mallopt(M_MMAP_THRESHOLD, kMappedFromBytes);
}

} // namespace shared::platform
