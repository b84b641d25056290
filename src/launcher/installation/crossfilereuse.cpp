#include "launcher/installation/crossfilereuse.h"

#include "launcher/installation/chunkrearranger.h"
#include "launcher/logging/logging.h"
#include "launcher/package/installationpath.h"
#include "shared/chunker/contentdefinedchunker.h"
#include "shared/concurrency/parallelworkers.h"
#include "shared/filesystemhelper/ioerror.h"
#include "shared/filesystemhelper/regularfile.h"
#include "shared/hash/sha256.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QTemporaryFile>

#include <algorithm>
#include <memory>
#include <set>

namespace orvik::launcher {

namespace {

constexpr qint64 kCopyPieceSize = 1048576;

// Where the old document puts one piece: a file of its list and a range in it.
struct TLocalPiece
{
    int File = 0;
    TFileSize Offset = 0;
    TFileSize Size = 0;
};

using TPieceIndex = QHash<QByteArray, TLocalPiece>;

// One piece of a wanted file that another installed file holds.
struct TWantedPiece
{
    int Position = 0;
    TFileSize TargetOffset = 0;
    TFileSize Size = 0;
    QByteArray Hash;
    TLocalPiece Source;
};

struct TStagingJob
{
    const TFileInPackage* File = nullptr;
    std::vector<TWantedPiece> Pieces;
};

bool validChunkList(const TFileInPackage& File, const TChunkInPackageVector& Chunks)
{
    return std::all_of(File.ChunkIndexes.begin(), File.ChunkIndexes.end(),
                       [&](qint32 Index) { return Index >= 0 && size_t(Index) < Chunks.size(); });
}

// Every piece of every installed file, the first file that lists it being where it is read: a
// chunked file by its chunks at their offsets, a smaller file as one piece.
TPieceIndex indexInstalledPieces(const TFileInPackageVector& Files,
                                 const TChunkInPackageVector& Chunks)
{
    TPieceIndex index;
    const auto add = [&index](const QByteArray& Hash, const TLocalPiece& Piece) {
        // A document without a digest must not make every digest-less piece look reusable.
        if (!Hash.isEmpty() && !index.contains(Hash))
            index.insert(Hash, Piece);
    };
    for (size_t i = 0; i < Files.size(); ++i) {
        const TFileInPackage& file = Files[i];
        if (file.ChunkIndexes.size() < 2) {
            add(file.UnpackedHash, {int(i), 0, file.UnpackedSize});
            continue;
        }
        if (!validChunkList(file, Chunks))
            continue;
        TFileSize offset = 0;
        for (const qint32 chunkIndex : file.ChunkIndexes) {
            const TChunkInPackage& chunk = Chunks[size_t(chunkIndex)];
            add(chunk.UnpackedHash, {int(i), offset, chunk.UnpackedSize});
            offset += chunk.UnpackedSize;
        }
    }
    return index;
}

const TFileInPackage* installedEntry(const TFileInPackageVector& SortedFiles, const QString& Path)
{
    const auto found = std::lower_bound(
        SortedFiles.begin(), SortedFiles.end(), Path,
        [](const TFileInPackage& Entry, const QString& Key) { return Entry.LocalFile < Key; });
    return found != SortedFiles.end() && found->LocalFile == Path ? &*found : nullptr;
}

// What the installed file of the same path holds already: the scan finds those in place.
std::set<QByteArray> ownPieces(const TFileInPackage* Installed, const TChunkInPackageVector& Chunks)
{
    std::set<QByteArray> pieces;
    if (!Installed)
        return pieces;
    if (Installed->ChunkIndexes.size() < 2 || !validChunkList(*Installed, Chunks)) {
        pieces.insert(Installed->UnpackedHash);
        return pieces;
    }
    for (const qint32 index : Installed->ChunkIndexes)
        pieces.insert(Chunks[size_t(index)].UnpackedHash);
    return pieces;
}

// The pieces of File that only other installed files hold.
TStagingJob piecesFromOtherFiles(const TFileInPackage& File, const TPieceIndex& Index,
                                 const TReuseInputs& Inputs)
{
    TStagingJob job;
    job.File = &File;
    const TFileInPackage* installed = installedEntry(Inputs.InstalledFiles, File.LocalFile);
    const auto lookUp = [&](int Position, TFileSize Offset, const QByteArray& Hash,
                            TFileSize Size) {
        const auto found = Index.constFind(Hash);
        if (found != Index.constEnd() && found->Size == Size)
            job.Pieces.push_back({Position, Offset, Size, Hash, found.value()});
    };
    if (File.ChunkIndexes.size() < 2) {
        const bool unchanged = installed && installed->UnpackedSize == File.UnpackedSize &&
                               installed->UnpackedHash == File.UnpackedHash;
        if (!unchanged && !File.UnpackedHash.isEmpty())
            lookUp(0, 0, File.UnpackedHash, File.UnpackedSize);
        return job;
    }
    if (!validChunkList(File, Inputs.RemoteChunks))
        return job;
    const std::set<QByteArray> own = ownPieces(installed, Inputs.InstalledChunks);
    TFileSize offset = 0;
    for (size_t i = 0; i < File.ChunkIndexes.size(); ++i) {
        const TChunkInPackage& chunk = Inputs.RemoteChunks[size_t(File.ChunkIndexes[i])];
        if (!chunk.UnpackedHash.isEmpty() && own.count(chunk.UnpackedHash) == 0)
            lookUp(int(i), offset, chunk.UnpackedHash, chunk.UnpackedSize);
        offset += chunk.UnpackedSize;
    }
    return job;
}

bool readAt(QFileDevice& File, qint64 Offset, char* Data, qint64 Length)
{
    return File.seek(Offset) && File.read(Data, Length) == Length;
}

void writeAt(QFileDevice& File, qint64 Offset, const char* Data, qint64 Length)
{
    if (!File.seek(Offset) || File.write(Data, Length) != Length)
        throw ::shared::ioError(File.fileName(), File.errorString());
}

// Source files stay open while consecutive pieces come from the same one, as a renamed file's do.
class TSourceFiles
{
public:
    explicit TSourceFiles(const TReuseInputs& Inputs) : m_Inputs(Inputs) {}

    // nullptr when the document's path names no file inside the installation or it cannot be
    // opened. A FIFO, socket or device in its place is never opened: it could hold the planning
    // for good. Reads fail once the installation is ending: a piece may be a whole large file.
    QFile* open(int Index)
    {
        if (Index == m_Index)
            return m_pFile.get();
        m_Index = Index;
        m_pFile.reset();
        try {
            auto file = std::make_unique<::shared::TStoppableFile>(
                resolveFileInInstallation(m_Inputs.FileSystem, m_Inputs.InstallationDirectory,
                                          m_Inputs.InstalledFiles[size_t(Index)].LocalFile),
                m_Inputs.StopRequested);
            if (::shared::openRegularFileForReading(*file))
                m_pFile = std::move(file);
        } catch (const std::runtime_error&) {
        }
        return m_pFile.get();
    }

private:
    const TReuseInputs& m_Inputs;
    int m_Index = -1;
    std::unique_ptr<::shared::TStoppableFile> m_pFile;
};

// Copies what other files hold of one wanted file into its staged file. Throws
// std::runtime_error when the staged file cannot be written; nothing is staged then.
bool stageOneFile(const TStagingJob& Job, const TReuseInputs& Inputs, TSourceFiles& Sources,
                  QString& WantedPath, TStagedFile& Staged)
{
    WantedPath = resolveFileInInstallation(Inputs.FileSystem, Inputs.InstallationDirectory,
                                           Job.File->LocalFile);
    // A renamed folder does not exist yet; the staged file lies where the wanted file goes.
    const QString folder = QFileInfo(WantedPath).absolutePath();
    if (!QDir().mkpath(folder))
        return false;
    QTemporaryFile file(WantedPath + kReuseMarker + QStringLiteral("XXXXXX"));
    if (!file.open())
        throw ::shared::ioError(file.fileTemplate(), file.errorString());
    for (const TWantedPiece& piece : Job.Pieces) {
        // What is staged goes with the planning that ends: it would only be removed again.
        if (Inputs.StopRequested)
            return false;
        const QString& sourceName = Inputs.InstalledFiles[size_t(piece.Source.File)].LocalFile;
        QFile* source = Sources.open(piece.Source.File);
        if (!source) {
            qInfo() << "reuseable chunk in other file not there " << piece.Hash.toHex()
                    << " file: " << sourceName << threadSuffix;
            continue;
        }
        if (!copyVerifiedPiece(*source, piece.Source.Offset, file, piece.TargetOffset, piece.Size,
                               piece.Hash)) {
            qWarning() << "reuseable chunk in other file differs on disk " << piece.Hash.toHex()
                       << " file: " << sourceName << " offset: " << piece.Source.Offset
                       << threadSuffix;
            continue;
        }
        qInfo() << "reuseable chunk in other file found " << piece.Position << piece.Hash.toHex()
                << " file: " << Job.File->LocalFile << " source: " << sourceName
                << " source offset: " << piece.Source.Offset
                << " target offset: " << piece.TargetOffset << threadSuffix;
        Staged.Positions.push_back(piece.Position);
    }
    if (Staged.Positions.empty())
        return false;
    // Moved into place as it is: it gets the permissions a downloaded file would have, not
    // those of a temporary file.
    QFileDevice::Permissions permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ReadUser | QFileDevice::WriteUser |
                                           QFileDevice::ReadGroup | QFileDevice::ReadOther;
    if (Job.File->Executable)
        permissions |= QFileDevice::ExeOwner | QFileDevice::ExeUser | QFileDevice::ExeGroup |
                       QFileDevice::ExeOther;
    if (!file.setPermissions(permissions))
        throw ::shared::ioError(file.fileName(), file.errorString());
    file.close();
    if (file.error() != QFileDevice::NoError)
        throw ::shared::ioError(file.fileName(), file.errorString());
    file.setAutoRemove(false);
    Staged.Path = file.fileName();
    return true;
}

} // namespace

TStagedFiles::~TStagedFiles()
{
    for (const TStagedFile& file : qAsConst(m_Files))
        if (QFileInfo::exists(file.Path) && !QFile::remove(file.Path))
            qWarning() << "Could not remove" << file.Path << threadSuffix;
}

void TStagedFiles::add(const QString& WantedPath, const TStagedFile& File)
{
    m_Files.insert(WantedPath, File);
}

const TStagedFile* TStagedFiles::find(const QString& WantedPath) const
{
    const auto found = m_Files.constFind(WantedPath);
    return found == m_Files.constEnd() ? nullptr : &found.value();
}

bool copyVerifiedPiece(QFileDevice& From, TFileSize FromOffset, QFileDevice& To, TFileSize ToOffset,
                       TFileSize Size, const QByteArray& Hash)
{
    // A chunk is held whole: the bytes written are the bytes checked.
    if (Size <= ::shared::kMaximumChunkLength) {
        QByteArray bytes(int(Size), Qt::Uninitialized);
        if (!readAt(From, qint64(FromOffset), bytes.data(), qint64(Size)) ||
            ::shared::sha256(bytes) != Hash)
            return false;
        writeAt(To, qint64(ToOffset), bytes.constData(), qint64(Size));
        return true;
    }
    // Larger only in a document that lists whole files uncut: checked, then copied and checked
    // again, as a file that changed in between must not pass.
    std::vector<char> buffer(static_cast<size_t>(kCopyPieceSize));
    const auto pass = [&](bool Copy) {
        ::shared::TSha256 hash;
        for (TFileSize done = 0; done < Size;) {
            const qint64 piece = qint64(std::min<TFileSize>(kCopyPieceSize, Size - done));
            if (!readAt(From, qint64(FromOffset + done), buffer.data(), piece))
                return false;
            hash.addData(buffer.data(), size_t(piece));
            if (Copy)
                writeAt(To, qint64(ToOffset + done), buffer.data(), piece);
            done += TFileSize(piece);
        }
        return hash.result() == Hash;
    };
    return pass(false) && pass(true);
}

void stageChunksFromOtherFiles(const TReuseInputs& Inputs, TStagedFiles& Staged)
{
    if (Inputs.InstalledFiles.empty())
        return;
    std::vector<TStagingJob> jobs;
    {
        // Gone again before the copies start: one entry per installed piece.
        const TPieceIndex index =
            indexInstalledPieces(Inputs.InstalledFiles, Inputs.InstalledChunks);
        if (index.isEmpty())
            return;
        for (const TFileInPackage& file : Inputs.RemoteFiles) {
            TStagingJob job = piecesFromOtherFiles(file, index, Inputs);
            if (!job.Pieces.empty())
                jobs.push_back(std::move(job));
        }
    }
    if (jobs.empty())
        return;
    qInfo() << "staging chunks from other files for " << jobs.size() << " files" << threadSuffix;

    QMutex mutex;
    size_t next = 0;
    const auto worker = [&]() -> bool {
        TSourceFiles sources(Inputs);
        for (;;) {
            const TStagingJob* job = nullptr;
            {
                QMutexLocker lock(&mutex);
                if (Inputs.StopRequested || next >= jobs.size())
                    return true;
                job = &jobs[next++];
            }
            QString wantedPath;
            TStagedFile staged;
            try {
                if (!stageOneFile(*job, Inputs, sources, wantedPath, staged))
                    continue;
            } catch (const std::exception& error) {
                // What could not be staged is fetched.
                qWarning() << "staging chunks failed for " << job->File->LocalFile << ": "
                           << error.what() << threadSuffix;
                continue;
            }
            QMutexLocker lock(&mutex);
            Staged.add(wantedPath, staged);
        }
    };
    ::shared::runParallelWorkers(Inputs.WorkerCount, worker);
}

} // namespace orvik::launcher
