// The installation manager reports its funnel steps to the running application. The fuzzer runs
// the manager without one, as the tests do, so the application's own sources are not built.
#include "launcher/startup/launcherapplication.h"

namespace orvik::launcher {

TLauncherApplication* TLauncherApplication::instance()
{
    return nullptr;
}

void TLauncherApplication::sendFunnelEvent(const QString&, const QString&) {}

} // namespace orvik::launcher
