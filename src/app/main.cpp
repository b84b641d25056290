#include "launcher/startup/launcherapplication.h"
#include "shared/platform/cryptolibrary.h"
#include "shared/platform/memorypolicy.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    shared::platform::returnLargeBuffersToTheSystem();
    shared::platform::keepCryptoLibraryUntilExit();
    // The window is drawn for 96 dpi: on a 2x screen it must grow as a whole, and its images
    // take their @2x variants. Both only work when set before the application object exists.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    orvik::launcher::TLauncherApplication application(argc, argv);
    return application.run();
}
