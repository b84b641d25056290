#include "launcher/startup/launcherapplication.h"
#include "launcher/startup/screenfit.h"
#include "shared/platform/cryptolibrary.h"
#include "shared/platform/memorypolicy.h"

#include <QCoreApplication>

#include <csignal>

namespace {

void onFileSizeLimitReached(int) {}

// Under a file-size limit (ulimit -f) the kernel ends a process that writes past it with
// SIGXFSZ, leaving nothing in the log. Caught, the write fails with EFBIG instead and the
// installation ends as a saving failure with its reason. A handler rather than SIG_IGN: an
// ignored signal stays ignored in the game client and in the restarted launcher, a caught one
// is reset for them.
void failWritesPastTheFileSizeLimit()
{
    struct sigaction action = {};
    action.sa_handler = &onFileSizeLimitReached;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGXFSZ, &action, nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    failWritesPastTheFileSizeLimit();
    shared::platform::returnLargeBuffersToTheSystem();
    shared::platform::keepCryptoLibraryUntilExit();
    // The window is drawn for 96 dpi: on a 2x screen it must grow as a whole, and its images
    // take their @2x variants. Both only work when set before the application object exists.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    const orvik::launcher::TScreenFit screenFit(argc, argv);
    orvik::launcher::TLauncherApplication application(argc, argv);
    screenFit.restoreEnvironment();
    return application.run();
}
