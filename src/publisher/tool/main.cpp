#include "publisher/cli/commandline.h"
#include "shared/platform/cryptolibrary.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    shared::platform::keepCryptoLibraryUntilExit();
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kestrun-publish"));
    QCoreApplication::setApplicationVersion(orvik::publisher::publisherVersion());
    QTextStream out(stdout);
    QTextStream err(stderr);
    return orvik::publisher::runCommandLine(QCoreApplication::arguments(), out, err);
}
