#include "publisher/store/atomicfile.h"

#include "publisher/publishererror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace orvik::publisher {

void writeFileAtomically(const QString& path, const QByteArray& bytes)
{
    const QString parent = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(parent))
        throw TPublisherError(QStringLiteral("cannot create directory '%1'").arg(parent));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw TPublisherError(
            QStringLiteral("cannot write '%1': %2").arg(path, file.errorString()));
}

bool fileHoldsBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.size() != bytes.size() || !file.open(QIODevice::ReadOnly))
        return false;
    return file.readAll() == bytes;
}

} // namespace orvik::publisher
