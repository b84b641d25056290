#include "shared/platform/threadpriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace shared::platform {

namespace {

// A weight of about a third of a thread at the default level: enough for the GUI thread to win
// at once, not so little that an installation stalls beside other busy programs.
constexpr int kBackgroundNice = 5;

} // namespace

void lowerThisThreadsPriority()
{
    thread_local bool lowered = false;
    if (lowered)
        return;
    lowered = true;
    // On Linux a thread has a nice value of its own. A failure leaves the thread as it was,
    // which is only slower to give way.
    const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
    const int current = ::getpriority(PRIO_PROCESS, thread);
    if (current < kBackgroundNice)
        ::setpriority(PRIO_PROCESS, thread, kBackgroundNice);
}

} // namespace shared::platform
