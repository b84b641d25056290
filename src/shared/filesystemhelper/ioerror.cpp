#include "shared/filesystemhelper/ioerror.h"

#include <QFileDevice>

#include <cerrno>
#include <cstring>

namespace shared {

namespace {

// Qt words a few reasons itself and takes the C library's words for the others.
bool saysOutOfSpace(const QString& reason)
{
    for (const int code : {ENOSPC, EDQUOT})
        if (reason == qt_error_string(code) ||
            reason == QString::fromLocal8Bit(std::strerror(code)))
            return true;
    return false;
}

TWriteError makeWriteError(const QString& fileName, const QString& context, const QString& reason,
                           bool bOutOfSpace)
{
    const QString text = context.isEmpty() ? reason : context + QStringLiteral(": ") + reason;
    return TWriteError(ioError(fileName, text).what(), fileName, reason, bOutOfSpace);
}

} // namespace

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

TWriteError writeError(const QString& fileName, const QString& context, const QFileDevice& device)
{
    const QString reason = device.errorString();
    return makeWriteError(fileName, context, reason, saysOutOfSpace(reason));
}

TWriteError writeError(const QString& fileName, const QString& context, int ErrorCode)
{
    return makeWriteError(fileName, context, qt_error_string(ErrorCode),
                          ErrorCode == ENOSPC || ErrorCode == EDQUOT);
}

} // namespace shared
