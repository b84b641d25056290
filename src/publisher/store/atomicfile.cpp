#include "publisher/store/atomicfile.h"

#include "publisher/publishererror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <stdexcept>

namespace orvik::publisher {

namespace {

void replace(const QString& Path, const QByteArray& Bytes,
             const ::shared::TReplacementOptions& Options)
{
    const QString parent = QFileInfo(Path).absolutePath();
    if (!QDir().mkpath(parent))
        throw TPublisherError(QStringLiteral("cannot create directory '%1'").arg(parent));
    try {
        ::shared::replaceFileAtomically(Path, Bytes, Options);
    } catch (const std::runtime_error& error) {
        throw TPublisherError(
            QStringLiteral("cannot write '%1': %2").arg(Path, QString::fromUtf8(error.what())));
    }
}

} // namespace

void writeFileAtomically(const QString& path, const QByteArray& bytes, EDurability durability)
{
    // Containers are made private by no umask: the web server that serves the tree is not their
    // owner. Documents get what any file the studio writes gets.
    std::optional<QFileDevice::Permissions> permissions;
    if (durability == EDurability::Cached)
        permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                      QFileDevice::ReadOther;
    replace(path, bytes, {durability, permissions});
}

void writePrivateFileAtomically(const QString& path, const QByteArray& bytes)
{
    replace(path, bytes, {EDurability::Synced, QFileDevice::ReadOwner | QFileDevice::WriteOwner});
}

bool fileHoldsBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.size() != bytes.size() || !file.open(QIODevice::ReadOnly))
        return false;
    return file.readAll() == bytes;
}

} // namespace orvik::publisher
