#include "publisher/store/atomicfile.h"

#include "publisher/publishererror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#include <cstdio>

#include <unistd.h>

namespace orvik::publisher {

void writeFileAtomically(const QString& path, const QByteArray& bytes, EDurability durability)
{
    const QString parent = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(parent))
        throw TPublisherError(QStringLiteral("cannot create directory '%1'").arg(parent));
    if (durability == EDurability::Cached) {
        QTemporaryFile temporary(path + QStringLiteral(".XXXXXX"));
        // Temporary files are private to their owner; the web server that serves the tree is not.
        if (!temporary.open() || temporary.write(bytes) != bytes.size() || !temporary.flush() ||
            !temporary.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                      QFileDevice::ReadGroup | QFileDevice::ReadOther) ||
            std::rename(QFile::encodeName(temporary.fileName()).constData(),
                        QFile::encodeName(path).constData()) != 0)
            throw TPublisherError(
                QStringLiteral("cannot write '%1': %2").arg(path, temporary.errorString()));
        // Renamed away: there is nothing left for the temporary file to remove.
        temporary.setAutoRemove(false);
        return;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw TPublisherError(
            QStringLiteral("cannot write '%1': %2").arg(path, file.errorString()));
}

void writePrivateFileAtomically(const QString& path, const QByteArray& bytes)
{
    const QString parent = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(parent))
        throw TPublisherError(QStringLiteral("cannot create directory '%1'").arg(parent));
    // Temporary files are created for their owner alone; that is kept.
    QTemporaryFile temporary(path + QStringLiteral(".XXXXXX"));
    if (!temporary.open() || temporary.write(bytes) != bytes.size() || !temporary.flush() ||
        ::fsync(temporary.handle()) != 0 ||
        std::rename(QFile::encodeName(temporary.fileName()).constData(),
                    QFile::encodeName(path).constData()) != 0)
        throw TPublisherError(
            QStringLiteral("cannot write '%1': %2").arg(path, temporary.errorString()));
    temporary.setAutoRemove(false);
}

bool fileHoldsBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.size() != bytes.size() || !file.open(QIODevice::ReadOnly))
        return false;
    return file.readAll() == bytes;
}

} // namespace orvik::publisher
