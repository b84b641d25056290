#include "shared/filesystemhelper/ioerror.h"

#include <QFileDevice>

namespace shared {

std::runtime_error ioError(const QString& fileName, const QString& reason)
{
    return std::runtime_error(
        QStringLiteral("I/O error on file '%1': %2").arg(fileName, reason).toUtf8().toStdString());
}

void throwIfDeviceFailed(const QFileDevice& device)
{
    if (device.error() != QFileDevice::NoError)
        throw ioError(device.fileName(), device.errorString());
}

} // namespace shared
