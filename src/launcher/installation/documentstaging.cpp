#include "launcher/installation/documentstaging.h"

#include "shared/filesystemhelper/filereplacement.h"
#include "shared/filesystemhelper/ioerror.h"
#include "shared/hash/sha256.h"

#include <QFile>
#include <QFileInfo>

namespace orvik::launcher {

namespace {

constexpr qint64 kPieceBytes = 1024 * 1024;

} // namespace

bool holdsDocument(const QString& Path, const QByteArray& Digest)
{
    QFile file(Path);
    if (!QFileInfo(Path).isFile() || !file.open(QIODevice::ReadOnly))
        return false;
    ::shared::TSha256 hash;
    QByteArray piece(int(kPieceBytes), Qt::Uninitialized);
    for (;;) {
        const qint64 read = file.read(piece.data(), kPieceBytes);
        if (read < 0)
            throw ::shared::ioError(Path, file.errorString());
        if (read == 0)
            break;
        hash.addData(piece.constData(), std::size_t(read));
    }
    return hash.result() == Digest;
}

QString stagedDocumentPath(const QString& PartialMarker)
{
    return PartialMarker + ::shared::kInterruptedWriteMarker + QStringLiteral("remote");
}

QString findDocument(const QStringList& Candidates, const QByteArray& Digest)
{
    for (const QString& candidate : Candidates)
        if (holdsDocument(candidate, Digest))
            return candidate;
    throw ::shared::ioError(Candidates.value(0),
                            QStringLiteral("The downloaded document is no longer on disk."));
}

} // namespace orvik::launcher
