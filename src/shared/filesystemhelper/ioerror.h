#pragma once

#include <QString>
#include <stdexcept>

class QFileDevice;

namespace shared {

// The one shape every file failure takes, so users and logs see the same wording everywhere.
std::runtime_error ioError(const QString& fileName, const QString& reason);

// Throws the uniform I/O error when the device reports any error since its last reset.
void throwIfDeviceFailed(const QFileDevice& device);

} // namespace shared
