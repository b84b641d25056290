// Writing verified chunk bodies into their files, strictly in file order; bodies that arrive
// before their turn are parked in memory or in temporary files.
#include "launcher/download/packagefiledownloader.h"

#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/logging/logging.h"
#include "launcher/selfupdate/launcherfilereplacement.h"
#include "shared/filesystemhelper/ioerror.h"
#include "shared/hash/sha256.h"

#include <QFileInfo>
#include <QTextStream>

#include <algorithm>

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
        const QString why = failure(reason, file);
        file.close();
        throw ::shared::ioError(path, why);
    }
    file.close();
    if (file.error() != QFileDevice::NoError)
        throw ::shared::ioError(path, failure(reason, file));
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

} // namespace

void TPackageFileDownloader::saveDownloadedData(const TChunkToDownload& Chunk,
                                                const QByteArray& Data) const
{
    qInfo() << "saveDownloadedData chunk " << Chunk.Url << threadSuffix;
    const bool verifyChunks = m_pLauncherFilesystemHelper->settings()->chunkVerification;
    auto& fileSystem = m_pLauncherFilesystemHelper->fileSystem();
    bool parked = false;
    // Written from Data itself: a body is only parked for the positions left after these.
    int writtenFromData = 0;

    for (const std::shared_ptr<TChunkedFileState>& pTarget : Chunk.TargetFiles) {
        TChunkedFileState& target = *pTarget;
        QMutexLocker targetLock(&target.Lock);
        const QString path =
            fileSystem.resolvePathInsideDirectory(m_InstallationDirectory, target.RelativePath);
        if (!target.Prepared)
            prepareTarget(target, path);

        std::unique_ptr<TCheckLog> log;
        while (!target.Outstanding.empty()) {
            const int index = target.Outstanding.front();
            const TChunkInPackage& entry = target.Chunks[static_cast<size_t>(index)];

            QByteArray source;
            ESource sourceKind = ESource::OwnData;
            if (entry.UnpackedHash == Chunk.UnpackedHash) {
                source = Data;
                ++writtenFromData;
            } else {
                // Held while the parked file is read: it goes with the entry's last use.
                std::shared_ptr<TPendingChunk> pending;
                int storage = TPendingChunk::NotArrived;
                QString parkedPath;
                {
                    QMutexLocker cacheLock(&m_CacheLock);
                    pending = m_PendingChunks.value(entry.UnpackedHash);
                    if (pending) {
                        storage = pending->Storage;
                        source = pending->Data;
                        parkedPath = pending->TemporaryFilePath;
                    }
                }
                if (storage == TPendingChunk::NotArrived) {
                    qInfo() << "saveDownloadedData chunk " << Chunk.Url << " not found for " << path
                            << ". => Wait for chunk";
                    break;
                }
                if (storage == TPendingChunk::InMemory) {
                    sourceKind = ESource::Memory;
                    qInfo() << "saveDownloadedData chunk " << Chunk.Url << " from cache to "
                            << QFileInfo(path).fileName() << " offset: " << target.offsetOf(index)
                            << threadSuffix;
                } else {
                    source = readParkedChunk(parkedPath, entry.UnpackedSize);
                    sourceKind = ESource::TemporaryFile;
                    qInfo() << "saveDownloadedData chunk " << Chunk.Url << " from temp file to "
                            << QFileInfo(path).fileName() << " offset: " << target.offsetOf(index)
                            << threadSuffix;
                }
            }

            const bool opening = !target.TargetFile;
            const QString writePath = target.WritePath.isEmpty() ? path : target.WritePath;
            if (opening) {
                auto file = std::make_unique<QFile>(writePath);
                if (!file->open(QIODevice::ReadWrite))
                    throw ::shared::ioError(writePath, QStringLiteral("couldn't open target file"));
                target.TargetFile = std::move(file);
            }
            QFile& targetFile = *target.TargetFile;
            if (!log)
                log = std::make_unique<TCheckLog>(verifyChunks, path, opening);

            const TFileSize offset = target.offsetOf(index);
            if (log->enabled()) {
                checkEarlierChunks(target, index, *log);
                const bool correct = ::shared::sha256(source) == entry.UnpackedHash;
                log->line(offset, writeMessage(sourceKind, correct));
                if (!correct && sourceKind == ESource::TemporaryFile)
                    throw ::shared::ioError(path, QStringLiteral("invalid hash"));
            }
            if (static_cast<TFileSize>(source.size()) != entry.UnpackedSize)
                throw ::shared::ioError(path, QStringLiteral("couldn't write chunk file"));
            // What earlier chunks left in the buffer goes out before the seek.
            if (!flushFully(targetFile) || !targetFile.seek(static_cast<qint64>(offset)) ||
                !writeFully(targetFile, source))
                throw ::shared::ioError(path, failure("couldn't write chunk file", targetFile));

            useOnce(entry.UnpackedHash);
            emit writeProgress(entry.Url, entry.UnpackedSize);
            target.Outstanding.pop_front();
        }
        if (log)
            log->close();

        const bool stillNeeded =
            std::any_of(target.Outstanding.begin(), target.Outstanding.end(), [&](int index) {
                return target.Chunks[static_cast<size_t>(index)].UnpackedHash == Chunk.UnpackedHash;
            });
        if (!parked && stillNeeded) {
            parkChunk(Chunk, Data, Chunk.Uses - writtenFromData);
            parked = true;
        }

        if (target.Outstanding.empty() && target.TargetFile)
            completeTarget(target, path);
    }
}

void TPackageFileDownloader::prepareTarget(TChunkedFileState& Target, const QString& Path) const
{
    Target.Prepared = true;
    const QString directory = QFileInfo(Path).absolutePath();
    QDir().mkpath(directory);
    if (!QDir(directory).exists())
        throw std::runtime_error(QStringLiteral("Failed to create folder: '%1'.")
                                     .arg(QDir::toNativeSeparators(directory))
                                     .toStdString());
    if (m_InstallationKind == kSelfUpdateInstallation) {
        prepareReplacement(Target, Path);
        return;
    }
    if (Target.Outstanding.size() == Target.Chunks.size()) {
        // Nothing of the old file is reused: start from nothing, whatever stands there now.
        const QFileInfo existing(Path);
        if (existing.isDir() && !existing.isSymLink()) {
            if (!QDir(Path).removeRecursively())
                throw std::runtime_error(
                    QStringLiteral("Failed to delete file %1").arg(Path).toStdString());
        } else if (existing.exists() || existing.isSymLink()) {
            m_pLauncherFilesystemHelper->fileSystem().deleteFile(Path);
        }
    }
}

void TPackageFileDownloader::prepareReplacement(TChunkedFileState& Target,
                                                const QString& Path) const
{
    // On Linux the running launcher can remove its own files, so "move aside only when removal
    // fails" would mean no old version to go back to and, killed now, no launcher at all. The old
    // file is always kept as ".old" and stays in place until the new one is complete.
    keepOldVersion(Path);
    Target.WritePath = createReplacementFile(Path);
    if (Target.Outstanding.size() == Target.Chunks.size())
        return;
    // Ranges kept from the installed file go into the replacement too.
    QFile::remove(Target.WritePath);
    if (!QFile::copy(Path, Target.WritePath))
        throw ::shared::ioError(Target.WritePath,
                                QStringLiteral("couldn't copy the installed file"));
}

void TPackageFileDownloader::completeTarget(TChunkedFileState& Target, const QString& Path) const
{
    const QString writePath = Target.WritePath.isEmpty() ? Path : Target.WritePath;
    // Gone once this ends, whatever happens: a failed file is not written again in this run.
    const std::unique_ptr<QFile> file = std::move(Target.TargetFile);
    // A replacement must be on the disk before its rename: a crash after it must not leave an
    // empty launcher.
    if (!Target.WritePath.isEmpty() && (!flushFully(*file) || ::fsync(file->handle()) != 0))
        throw ::shared::ioError(writePath, failure("couldn't write target file", *file));
    closeChecked(*file, writePath, "couldn't write target file");
    if (Target.Executable)
        file->setPermissions(file->permissions() | QFileDevice::ExeOwner | QFileDevice::ExeGroup |
                             QFileDevice::ExeOther);
    if (!Target.WritePath.isEmpty())
        putReplacementInPlace(Target.WritePath, Path);
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
        throw ::shared::ioError(file->fileTemplate(), QStringLiteral("couldn't open chunk file"));
    const QString path = file->fileName();
    if (!writeFully(*file, Data))
        throw ::shared::ioError(path, failure("couldn't write chunk file", *file));
    closeChecked(*file, path, "couldn't write chunk file");
    QMutexLocker cacheLock(&m_CacheLock);
    pending->TemporaryFile = std::move(file);
    pending->TemporaryFilePath = path;
    pending->Storage = TPendingChunk::InTemporaryFile;
    m_MostChunksHeldAtOnce = std::max(m_MostChunksHeldAtOnce, ++m_ChunksHeldNow);
}

} // namespace orvik::launcher
