#include "shared/filesystemhelper/readonlymemoryblob.h"

#include "shared/filesystemhelper/ioerror.h"

#include <QFile>

namespace shared {

TReadOnlyMemoryBlob::TReadOnlyMemoryBlob(const QString& path) : m_Path(path)
{
    if (!QFile::exists(path))
        throw ioError(path, QStringLiteral("File does not exist"));
}

QByteArray TReadOnlyMemoryBlob::getData() const
{
    if (!m_Data.isEmpty())
        return m_Data;

    QFile file(m_Path);
    if (!file.open(QIODevice::ReadOnly))
        throw ioError(file.fileName(), QStringLiteral("Could not open file."));
    throwIfDeviceFailed(file);
    QByteArray bytes = file.readAll();
    throwIfDeviceFailed(file);
    return bytes;
}

} // namespace shared
