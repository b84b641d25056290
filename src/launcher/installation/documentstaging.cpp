#include "launcher/installation/documentstaging.h"

#include "shared/filesystemhelper/atomicwrite.h"
#include "shared/filesystemhelper/ioerror.h"
#include "shared/hash/sha256.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace orvik::launcher {

namespace {

constexpr qint64 kPieceBytes = 1024 * 1024;

QString systemReason(int Error)
{
    return QString::fromLocal8Bit(std::strerror(Error));
}

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

namespace {

// Six characters after the marker, as the left-over sweep expects of an interrupted write.
QString temporaryPathFor(const QString& Path)
{
    static const char kAlphabet[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QString suffix;
    for (int i = 0; i < 6; ++i)
        suffix +=
            QLatin1Char(kAlphabet[QRandomGenerator::global()->bounded(int(sizeof kAlphabet) - 1)]);
    return Path + ::shared::kInterruptedWriteMarker + suffix;
}

void writeAll(int Descriptor, const char* Data, qint64 Size, const QString& Path)
{
    while (Size > 0) {
        const ssize_t written = ::write(Descriptor, Data, size_t(Size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            throw ::shared::ioError(Path, systemReason(written < 0 ? errno : ENOSPC));
        Data += written;
        Size -= written;
    }
}

void copyInto(int Descriptor, const QString& Source, const QString& TemporaryPath)
{
    QFile source(Source);
    if (!source.open(QIODevice::ReadOnly))
        throw ::shared::ioError(Source, source.errorString());
    QByteArray piece(int(kPieceBytes), Qt::Uninitialized);
    for (;;) {
        const qint64 read = source.read(piece.data(), kPieceBytes);
        if (read < 0)
            throw ::shared::ioError(Source, source.errorString());
        if (read == 0)
            return;
        writeAll(Descriptor, piece.constData(), read, TemporaryPath);
    }
}

} // namespace

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

void copyFileAtomically(const QString& Source, const QString& Path)
{
    QString temporaryPath;
    int descriptor = -1;
    for (int attempt = 0; attempt < 100 && descriptor < 0; ++attempt) {
        temporaryPath = temporaryPathFor(Path);
        // Created afresh: a link planted at the temporary name is never followed.
        descriptor = ::open(QFile::encodeName(temporaryPath).constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (descriptor < 0 && errno != EEXIST)
            throw ::shared::ioError(Path, systemReason(errno));
    }
    if (descriptor < 0)
        throw ::shared::ioError(Path, QStringLiteral("Could not create a temporary file."));
    try {
        copyInto(descriptor, Source, temporaryPath);
        if (::fsync(descriptor) != 0)
            throw ::shared::ioError(temporaryPath, systemReason(errno));
        const int closed = ::close(descriptor);
        descriptor = -1;
        if (closed != 0)
            throw ::shared::ioError(temporaryPath, systemReason(errno));
        if (::rename(QFile::encodeName(temporaryPath).constData(),
                     QFile::encodeName(Path).constData()) != 0)
            throw ::shared::ioError(Path, systemReason(errno));
    } catch (...) {
        if (descriptor >= 0)
            ::close(descriptor);
        ::unlink(QFile::encodeName(temporaryPath).constData());
        throw;
    }
    // The rename lasts only once the directory entry is on disk.
    const int directory = ::open(QFile::encodeName(QFileInfo(Path).absolutePath()).constData(),
                                 O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        ::fsync(directory);
        ::close(directory);
    }
}

} // namespace orvik::launcher
