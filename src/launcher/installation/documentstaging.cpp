#include "launcher/installation/documentstaging.h"

#include "shared/filesystemhelper/atomicwrite.h"
#include "shared/filesystemhelper/filesystemhelper.h"
#include "shared/filesystemhelper/ioerror.h"
#include "shared/hash/sha256.h"

#include <QFileInfo>

namespace orvik::launcher {

QString stagedDocumentPath(const QString& PartialMarker)
{
    // Six characters after the marker, as the random ones of an interrupted write.
    return PartialMarker + ::shared::kInterruptedWriteMarker + QStringLiteral("remote");
}

QByteArray readDocumentBack(::shared::TFileSystemHelper& FileSystem, const QStringList& Candidates,
                            const QByteArray& Digest)
{
    for (const QString& candidate : Candidates) {
        if (!QFileInfo(candidate).isFile())
            continue;
        QByteArray bytes = FileSystem.readFile(candidate);
        if (::shared::sha256(bytes) == Digest)
            return bytes;
    }
    throw ::shared::ioError(Candidates.value(0),
                            QStringLiteral("The downloaded document is no longer on disk."));
}

} // namespace orvik::launcher
