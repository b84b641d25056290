// Writing verified chunk bodies into their files, strictly in file order; bodies that arrive
// before their turn are parked in memory or in temporary files.
#include "launcher/download/packagefiledownloader.h"

#include "launcher/filesystem/installationpolicy.h"
#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/logging/logging.h"
#include "launcher/package/installationpath.h"
#include "shared/container/containerpieces.h"
#include "shared/filesystemhelper/ioerror.h"
#include "shared/filesystemhelper/regularfile.h"
#include "shared/hash/sha256.h"

#include <QFileInfo>
#include <QTextStream>

#include <algorithm>
#include <cerrno>
#include <optional>

#include <unistd.h>

namespace orvik::launcher {

namespace {

enum class ESource { OwnData, Memory, TemporaryFile };

// The reason with the device's own words ("No space left on device", "File too large"), so the
// log says why a save failed.
QString failure(const char* reason, const QFileDevice& device)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(reason), device.errorString());
}

// Qt keeps the system's reason only for a write that stores nothing; after a partial write (the
// disk filled up halfway) it says "Unknown error". Offering the rest once more fails at once and
// keeps the reason, or succeeds and nothing is lost.
bool flushFully(QFileDevice& file)
{
    return file.flush() || file.flush();
}

bool writeFully(QFileDevice& file, const QByteArray& data)
{
    const qint64 written = file.write(data);
    if (written < 0 || written == data.size())
        return written == data.size();
    const qint64 rest = data.size() - written;
    return file.write(data.constData() + written, rest) == rest;
}

// A small file's bytes wait in the write buffer until here, so a full disk or a file-size limit
// may show only now.
void closeChecked(QFileDevice& file, const QString& path, const char* reason)
{
    if (!flushFully(file)) {
        const ::shared::TWriteError why = ::shared::writeError(path, reason, file);
        file.close();
        throw why;
    }
    file.close();
    if (file.error() != QFileDevice::NoError)
        throw ::shared::writeError(path, reason, file);
}

// The folder of Path could not be made; Error is the errno of the last try. A file where a folder
// goes fails it with EEXIST, which a write there would report as "Not a directory".
::shared::TWriteError folderError(const QString& Folder, const QString& Path, int Error)
{
    const int reason = Error == EEXIST || Error == 0 ? ENOTDIR : Error;
    const ::shared::TWriteError failure = ::shared::writeError(Path, QString(), reason);
    return ::shared::TWriteError(QStringLiteral("Failed to create folder: '%1'.")
                                     .arg(QDir::toNativeSeparators(Folder))
                                     .toStdString(),
                                 Path, failure.reason(), failure.isOutOfSpace());
}

const char* writeMessage(ESource source, bool correct)
{
    switch (source) {
    case ESource::OwnData:
        return correct ? ": write succeeded" : ": write failed";
    case ESource::Memory:
        return correct ? ": write cache correct" : ": write cache invalid";
    case ESource::TemporaryFile:
        break;
    }
    return correct ? ": write tmp file correct" : ": write tmp file invalid";
}

// The optional per-file check log of the debug mode.
class TCheckLog
{
public:
    TCheckLog(bool enabled, const QString& targetPath, bool startNew)
    {
        if (!enabled)
            return;
        const QString path = targetPath + QStringLiteral(".log");
        if (startNew)
            QFile::remove(path);
        m_File.setFileName(path);
        if (m_File.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
            m_Stream.setDevice(&m_File);
    }
    bool enabled() const { return m_Stream.device() != nullptr; }
    void close()
    {
        if (!enabled())
            return;
        m_Stream.flush();
        if (m_Stream.status() != QTextStream::Ok)
            throw ::shared::ioError(m_File.fileName(), failure("couldn't write check log", m_File));
        m_Stream.setDevice(nullptr);
        closeChecked(m_File, m_File.fileName(), "couldn't write check log");
    }
    void line(TFileSize position, const char* what)
    {
        if (enabled())
            m_Stream << position << what << '\n';
    }

private:
    QFile m_File;
    QTextStream m_Stream;
};

// Re-reads what is already in the file before Offset and checks it against its chunks.
void checkEarlierChunks(TChunkedFileState& target, int index, TCheckLog& log)
{
    QFile& file = *target.TargetFile;
    const TFileSize position = static_cast<TFileSize>(file.pos());
    for (int j = 0; j < index; ++j) {
        const TFileSize end = target.offsetOf(j + 1);
        if (end <= position)
            continue;
        const TChunkInPackage& earlier = target.Chunks[static_cast<size_t>(j)];
        if (!flushFully(file) || !file.seek(static_cast<qint64>(target.offsetOf(j))))
            throw ::shared::ioError(file.fileName(), failure("couldn't write chunk file", file));
        const QByteArray bytes = file.read(static_cast<qint64>(earlier.UnpackedSize));
        if (static_cast<TFileSize>(bytes.size()) != earlier.UnpackedSize)
            throw ::shared::ioError(file.fileName(), QStringLiteral("invalid old chunk"));
        if (::shared::sha256(bytes) != earlier.UnpackedHash) {
            log.line(target.offsetOf(j), ": check failed");
            throw ::shared::ioError(file.fileName(), QStringLiteral("invalid hash"));
        }
        log.line(target.offsetOf(j), ": check succeeded");
    }
}

// Through a handle of its own: other threads may be reading the same parked file right now.
QByteArray readParkedChunk(const QString& path, TFileSize size)
{
    QFile parked(path);
    if (!parked.open(QIODevice::ReadOnly))
        throw ::shared::ioError(
            path, QStringLiteral("couldn't open chunk file: %1").arg(parked.errorString()));
    const QByteArray bytes = parked.readAll();
    if (static_cast<TFileSize>(bytes.size()) != size)
        throw ::shared::ioError(path, QStringLiteral("couldn't read chunk file"));
    return bytes;
}

// The bytes of a chunk about to be written and where they were held.
struct TChunkSource
{
    QByteArray Bytes;
    ESource From = ESource::OwnData;
};

// The bytes of Entry as an earlier arrival parked them; none while they have not arrived.
std::optional<TChunkSource>
parkedSource(const TChunkInPackage& Entry, QMutex& CacheLock,
             const QMap<QByteArray, std::shared_ptr<TPendingChunk>>& PendingChunks)
{
    // Held while the parked file is read: it goes with the entry's last use. Its fields are
    // copied under the lock, as parking changes them.
    std::shared_ptr<TPendingChunk> pending;
    TChunkSource source;
    int storage = TPendingChunk::NotArrived;
    QString parkedPath;
    {
        QMutexLocker cacheLock(&CacheLock);
        pending = PendingChunks.value(Entry.UnpackedHash);
        if (pending) {
            storage = pending->Storage;
            source.Bytes = pending->Data;
            parkedPath = pending->TemporaryFilePath;
        }
    }
    if (storage == TPendingChunk::NotArrived)
        return std::nullopt;
    source.From = ESource::Memory;
    if (storage == TPendingChunk::InTemporaryFile) {
        source.Bytes = readParkedChunk(parkedPath, Entry.UnpackedSize);
        source.From = ESource::TemporaryFile;
    }
    return source;
}

// Writes the chunk at position Index of the target, opening the file at its first chunk.
void writeChunk(TChunkedFileState& Target, const QString& Path, int Index,
                const TChunkSource& Source, bool VerifyChunks, std::unique_ptr<TCheckLog>& Log)
{
    const TChunkInPackage& entry = Target.Chunks[static_cast<size_t>(Index)];
    const bool opening = !Target.TargetFile;
    if (opening) {
        const QString writePath = Target.WritePath.isEmpty() ? Path : Target.WritePath;
        auto file = std::make_unique<QFile>(writePath);
        if (!file->open(QIODevice::ReadWrite))
            throw ::shared::writeError(writePath, QStringLiteral("couldn't open target file"),
                                       *file);
        Target.TargetFile = std::move(file);
    }
    QFile& targetFile = *Target.TargetFile;
    if (!Log)
        Log = std::make_unique<TCheckLog>(VerifyChunks, Path, opening);

    const TFileSize offset = Target.offsetOf(Index);
    if (Log->enabled()) {
        checkEarlierChunks(Target, Index, *Log);
        const bool correct = ::shared::sha256(Source.Bytes) == entry.UnpackedHash;
        Log->line(offset, writeMessage(Source.From, correct));
        if (!correct && Source.From == ESource::TemporaryFile)
            throw ::shared::ioError(Path, QStringLiteral("invalid hash"));
    }
    if (static_cast<TFileSize>(Source.Bytes.size()) != entry.UnpackedSize)
        throw ::shared::ioError(Path, QStringLiteral("couldn't write chunk file"));
    // What earlier chunks left in the buffer goes out before the seek.
    if (!flushFully(targetFile) || !targetFile.seek(static_cast<qint64>(offset)) ||
        !writeFully(targetFile, Source.Bytes))
        throw ::shared::writeError(Path, QStringLiteral("couldn't write chunk file"), targetFile);
}

// The player knows a file by the document's name, not by where it lies or is written for now.
::shared::TWriteError namedAsInTheDocument(const ::shared::TWriteError& Error,
                                           const TChunkedFileState& Target, const QString& Path)
{
    if (Error.fileName() == Path || Error.fileName() == Target.WritePath)
        return Error.named(Target.RelativePath);
    return Error;
}

} // namespace

void TPackageFileDownloader::saveDownloadedData(const TChunkToDownload& Chunk,
                                                const QByteArray& Data) const
{
    auto& fileSystem = m_pLauncherFilesystemHelper->fileSystem();
    bool parked = false;
    // Written from Data itself: a body is only parked for the positions left after these.
    int writtenFromData = 0;

    for (const std::shared_ptr<TChunkedFileState>& pTarget : Chunk.TargetFiles) {
        TChunkedFileState& target = *pTarget;
        QMutexLocker targetLock(&target.Lock);
        // Checked again where it is written: the folders may have changed since planning.
        const QString path =
            resolveFileInInstallation(fileSystem, m_InstallationDirectory, target.RelativePath);
        try {
            if (!target.Prepared)
                prepareTarget(target, path);

            writtenFromData += writeOutstanding(target, path, Chunk, Data);

            const bool stillNeeded =
                std::any_of(target.Outstanding.begin(), target.Outstanding.end(), [&](int index) {
                    return target.Chunks[static_cast<size_t>(index)].UnpackedHash ==
                           Chunk.UnpackedHash;
                });
            if (!parked && stillNeeded) {
                parkChunk(Chunk, Data, Chunk.Uses - writtenFromData);
                parked = true;
            }

            if (target.Outstanding.empty() && target.TargetFile)
                completeTarget(target, path);
        } catch (const ::shared::TWriteError& error) {
            throw namedAsInTheDocument(error, target, path);
        }
    }
}

int TPackageFileDownloader::writeOutstanding(TChunkedFileState& Target, const QString& Path,
                                             const TChunkToDownload& Chunk,
                                             const QByteArray& Data) const
{
    int writtenFromData = 0;
    const bool verifyChunks = m_pLauncherFilesystemHelper->settings()->chunkVerification;
    std::unique_ptr<TCheckLog> log;
    while (!Target.Outstanding.empty()) {
        const int index = Target.Outstanding.front();
        const TChunkInPackage& entry = Target.Chunks[static_cast<size_t>(index)];
        const std::optional<TChunkSource> source =
            entry.UnpackedHash == Chunk.UnpackedHash
                ? TChunkSource{Data, ESource::OwnData}
                : parkedSource(entry, m_CacheLock, m_PendingChunks);
        if (!source) {
            qInfo() << "saveDownloadedData chunk " << Chunk.Url << " not found for " << Path
                    << ". => Wait for chunk";
            break;
        }
        if (source->From != ESource::OwnData)
            qInfo() << "saveDownloadedData chunk " << Chunk.Url
                    << (source->From == ESource::Memory ? " from cache to " : " from temp file to ")
                    << QFileInfo(Path).fileName() << " offset: " << Target.offsetOf(index)
                    << threadSuffix;
        writeChunk(Target, Path, index, *source, verifyChunks, log);
        if (source->From == ESource::OwnData)
            ++writtenFromData;
        useOnce(entry.UnpackedHash);
        m_WrittenReports.add({entry.Url, entry.UnpackedSize});
        Target.Outstanding.pop_front();
    }
    if (log)
        log->close();
    return writtenFromData;
}

void TPackageFileDownloader::prepareTarget(TChunkedFileState& Target, const QString& Path) const
{
    Target.Prepared = true;
    const QString directory = QFileInfo(Path).absolutePath();
    const bool made = QDir().mkpath(directory);
    const int error = errno;
    if (!made || !QDir(directory).exists())
        throw folderError(directory, Path, made ? ENOENT : error);
    const bool keepsContent = Target.Outstanding.size() != Target.Chunks.size();
    // Planned on a regular file; anything else there now (a FIFO would hold the write for good)
    // has lost the content the plan keeps.
    if (keepsContent && QFileInfo::exists(Path) && !::shared::isRegularFile(Path))
        throw ::shared::TWriteError(
            ::shared::ioError(Path, QStringLiteral("not a regular file any more")).what(), Path,
            QStringLiteral("Not a regular file"), false);
    Target.WritePath =
        m_pPolicy->prepareFile(m_pLauncherFilesystemHelper->fileSystem(), Path, keepsContent);
}

void TPackageFileDownloader::completeTarget(TChunkedFileState& Target, const QString& Path) const
{
    const QString writePath = Target.WritePath.isEmpty() ? Path : Target.WritePath;
    // Gone once this ends, whatever happens: a failed file is not written again in this run.
    const std::unique_ptr<QFile> file = std::move(Target.TargetFile);
    // The mode before the sync, so that it is durable with the data: a launcher that survives a
    // power cut without its execute bit cannot start again.
    if (Target.Executable && !file->setPermissions(file->permissions() | QFileDevice::ExeOwner |
                                                   QFileDevice::ExeGroup | QFileDevice::ExeOther))
        throw ::shared::ioError(writePath, failure("couldn't make target file executable", *file));
    // A file written under another name must be on the disk before its rename: a crash after it
    // must not leave an empty file under the real name.
    if (writePath != Path && (!flushFully(*file) || ::fsync(file->handle()) != 0))
        throw ::shared::ioError(writePath, failure("couldn't write target file", *file));
    closeChecked(*file, writePath, "couldn't write target file");
    m_pPolicy->completeFile(writePath, Path);
}

void TPackageFileDownloader::savePiecewise(const TChunkToDownload& Chunk,
                                           const QByteArray& Data) const
{
    auto& fileSystem = m_pLauncherFilesystemHelper->fileSystem();
    for (const std::shared_ptr<TChunkedFileState>& pTarget : Chunk.TargetFiles) {
        TChunkedFileState& target = *pTarget;
        QMutexLocker targetLock(&target.Lock);
        const QString path =
            resolveFileInInstallation(fileSystem, m_InstallationDirectory, target.RelativePath);
        try {
            if (!target.Prepared)
                prepareTarget(target, path);
            if (target.Outstanding.empty())
                continue;
            writePiecewise(target, path, Chunk, Data);
            useOnce(Chunk.UnpackedHash);
            m_WrittenReports.add({Chunk.Url, Chunk.UnpackedSize});
            target.Outstanding.pop_front();
            completeTarget(target, path);
        } catch (const ::shared::TWriteError& error) {
            throw namedAsInTheDocument(error, target, path);
        }
    }
}

void TPackageFileDownloader::writePiecewise(TChunkedFileState& Target, const QString& Path,
                                            const TChunkToDownload& Chunk,
                                            const QByteArray& Data) const
{
    if (!Target.TargetFile) {
        const QString writePath = Target.WritePath.isEmpty() ? Path : Target.WritePath;
        auto file = std::make_unique<QFile>(writePath);
        if (!file->open(QIODevice::ReadWrite))
            throw ::shared::writeError(writePath, QStringLiteral("couldn't open target file"),
                                       *file);
        Target.TargetFile = std::move(file);
    }
    QFile& file = *Target.TargetFile;
    // From the start: an earlier attempt may have written bytes that failed their check.
    if (!flushFully(file) || !file.seek(0))
        throw ::shared::writeError(Path, QStringLiteral("couldn't write chunk file"), file);
    ::shared::TSha256 digest;
    ::shared::decodeContainerPiecewise(
        Data, Chunk.UnpackedSize, [&](const char* piece, std::size_t length) {
            digest.addData(piece, length);
            const auto size = qint64(length);
            const qint64 written = file.write(piece, size);
            if (written != size &&
                (written < 0 || file.write(piece + written, size - written) != size - written))
                throw ::shared::writeError(Path, QStringLiteral("couldn't write chunk file"), file);
        });
    if (!flushFully(file))
        throw ::shared::writeError(Path, QStringLiteral("couldn't write chunk file"), file);
    if (digest.result() != Chunk.UnpackedHash)
        throw TPiecewiseCheckError(
            QStringLiteral("verify of url '%1' failed").arg(Chunk.Url.toString()).toStdString());
}

void TPackageFileDownloader::useOnce(const QByteArray& UnpackedHash) const
{
    QMutexLocker cacheLock(&m_CacheLock);
    const auto found = m_PendingChunks.find(UnpackedHash);
    if (found == m_PendingChunks.end())
        return;
    const std::shared_ptr<TPendingChunk>& pending = found.value();
    if (--pending->Uses > 0)
        return;
    if (pending->Storage == TPendingChunk::InMemory)
        --m_ChunksInMemory;
    if (pending->Storage != TPendingChunk::NotArrived)
        --m_ChunksHeldNow;
    m_PendingChunks.erase(found); // a parked temporary file goes with its entry
}

// An entry is made only here: made for every chunk up front, a package of many small files held
// one per file although its files, written whole on arrival, never park anything.
void TPackageFileDownloader::parkChunk(const TChunkToDownload& Chunk, const QByteArray& Data,
                                       int Uses) const
{
    std::shared_ptr<TPendingChunk> pending;
    {
        QMutexLocker cacheLock(&m_CacheLock);
        std::shared_ptr<TPendingChunk>& entry = m_PendingChunks[Chunk.UnpackedHash];
        if (!entry) {
            entry = std::make_shared<TPendingChunk>();
            entry->Uses = Uses;
        }
        pending = entry;
        ++m_ChunksParked;
        if (m_ChunksInMemory <= m_pLauncherFilesystemHelper->settings()->maxCachedChunks) {
            ++m_ChunksInMemory;
            pending->Data = Data;
            pending->Storage = TPendingChunk::InMemory;
            m_MostChunksHeldAtOnce = std::max(m_MostChunksHeldAtOnce, ++m_ChunksHeldNow);
            return;
        }
    }
    // Written without the cache lock: other files' chunks need not wait for this disk write.
    auto file = std::make_unique<QTemporaryFile>();
    if (!file->open())
        throw ::shared::writeError(file->fileTemplate(), QStringLiteral("couldn't open chunk file"),
                                   *file);
    const QString path = file->fileName();
    if (!writeFully(*file, Data))
        throw ::shared::writeError(path, QStringLiteral("couldn't write chunk file"), *file);
    closeChecked(*file, path, "couldn't write chunk file");
    QMutexLocker cacheLock(&m_CacheLock);
    pending->TemporaryFile = std::move(file);
    pending->TemporaryFilePath = path;
    pending->Storage = TPendingChunk::InTemporaryFile;
    m_MostChunksHeldAtOnce = std::max(m_MostChunksHeldAtOnce, ++m_ChunksHeldNow);
}

} // namespace orvik::launcher
