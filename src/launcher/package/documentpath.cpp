#include "launcher/package/documentpath.h"

namespace orvik::launcher {

bool namesFileInInstallation(const QString& LocalFile)
{
    const QString lastComponent = LocalFile.section(QLatin1Char('/'), -1);
    return !lastComponent.isEmpty() && lastComponent != QLatin1String(".") &&
           lastComponent != QLatin1String("..");
}

} // namespace orvik::launcher
