#include "launcher/startup/launcherapplication.h"

int main(int argc, char** argv)
{
    orvik::launcher::TLauncherApplication application(argc, argv);
    return application.run();
}
