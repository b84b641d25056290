#include "launcher/installation/fileplanner.h"

#include "launcher/installation/chunkmatcher.h"
#include "launcher/installation/chunkrearranger.h"
#include "launcher/installation/crossfilereuse.h"
#include "launcher/logging/logging.h"
#include "launcher/package/installationpath.h"
#include "shared/chunker/chunkscanner.h"
#include "shared/filesystemhelper/filesystemhelper.h"
#include "shared/filesystemhelper/ioerror.h"
#include "shared/filesystemhelper/regularfile.h"
#include "shared/hash/sha256.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace orvik::launcher {

namespace {

constexpr qint64 kHashReadSize = 1048576;
// Read by a file that is never stopped: the planning of a test or a tool without an installation.
const std::atomic<bool> g_NeverStopped{false};

const std::atomic<bool>& stopFlag(const TPlanningInputs& Inputs)
{
    return Inputs.StopRequested ? *Inputs.StopRequested : g_NeverStopped;
}

// What was read of a file that the reading was stopped in is no base for a plan.
void throwWhenStopped(const TPlanningInputs& Inputs)
{
    if (stopFlag(Inputs))
        throw std::runtime_error("Planning stopped: the installation was ended.");
}

TFileToDownload describe(const TFileInPackage& File, std::vector<TChunkInPackage> Chunks)
{
    TFileToDownload result;
    result.LocalPath = File.LocalFile;
    result.Size = File.UnpackedSize;
    result.Hash = File.UnpackedHash;
    result.Executable = File.Executable;
    result.Patches = File.Patches;
    result.Chunks = std::move(Chunks);
    return result;
}

std::vector<TChunkInPackage> lookUpChunks(const TFileInPackage& File,
                                          const TChunkInPackageVector& Table)
{
    std::vector<TChunkInPackage> chunks;
    chunks.reserve(File.ChunkIndexes.size());
    for (const qint32 index : File.ChunkIndexes) {
        if (index < 0 || size_t(index) >= Table.size())
            throw std::runtime_error(
                QStringLiteral(
                    "The package document lists chunk %1 for '%2', which does not exist.")
                    .arg(index)
                    .arg(File.LocalFile)
                    .toStdString());
        chunks.push_back(Table[size_t(index)]);
    }
    return chunks;
}

// Asks for every piece of the file.
TFileToDownload everyPiece(const TFileInPackage& File, const TPlanningInputs& Inputs)
{
    TFileToDownload result =
        describe(File, File.WholeFile.Url.isEmpty() ? lookUpChunks(File, Inputs.RemoteChunks)
                                                    : std::vector<TChunkInPackage>{File.WholeFile});
    for (size_t i = 0; i < result.Chunks.size(); ++i)
        result.Positions.push_back(int(i));
    return result;
}

// Asks for every piece of the file. What stands there stays until the first piece arrives: an
// installation refused before it downloads anything (no room on the disk) keeps the old file.
TFileToDownload fetchWhole(const TFileInPackage& File, const QString&,
                           const TPlanningInputs& Inputs)
{
    return everyPiece(File, Inputs);
}

QByteArray hashWholeFile(const QString& Path, const TPlanningInputs& Inputs)
{
    ::shared::TStoppableFile file(Path, stopFlag(Inputs));
    if (!::shared::openRegularFileForReading(file))
        return {};
    ::shared::TSha256 hash;
    std::vector<char> buffer(static_cast<size_t>(kHashReadSize));
    for (;;) {
        const qint64 read = file.read(buffer.data(), kHashReadSize);
        throwWhenStopped(Inputs);
        if (read < 0)
            return {};
        if (read == 0)
            return hash.result();
        hash.addData(buffer.data(), size_t(read));
    }
}

bool matchesWholeFile(const TFileInPackage& File, const QString& Path,
                      const TPlanningInputs& Inputs)
{
    const QByteArray hash = hashWholeFile(Path, Inputs);
    const QFileInfo info(Path);
    const TFileSize size = info.exists() ? TFileSize(info.size()) : 0;
    Inputs.Progress.add(size);
    if (size == File.UnpackedSize && !hash.isEmpty() && hash == File.UnpackedHash) {
        qInfo() << "reuseable file found " << File.LocalFile << threadSuffix;
        return true;
    }
    return false;
}

const TStagedFile* stagedFor(const QString& Path, const TPlanningInputs& Inputs)
{
    return Inputs.Staged ? Inputs.Staged->find(Path) : nullptr;
}

// Replaces whatever stands at Path, whose own content has nothing of the wanted file.
bool moveIntoPlace(const TStagedFile& Staged, const QString& Path)
{
    if (std::rename(QFile::encodeName(Staged.Path).constData(),
                    QFile::encodeName(Path).constData()) == 0)
        return true;
    qWarning() << "moving staged chunks into place failed: " << Path << ": " << std::strerror(errno)
               << threadSuffix;
    return false;
}

std::vector<int> positionsNotIn(const std::vector<int>& Held, size_t Count)
{
    std::vector<int> missing;
    for (size_t i = 0; i < Count; ++i)
        if (!std::binary_search(Held.begin(), Held.end(), int(i)))
            missing.push_back(int(i));
    return missing;
}

// Copies the staged chunks among Missing into the file, each checked again on the way; returns
// the positions still missing.
std::vector<int> fillFromStagedFile(const TStagedFile& Staged, const QString& Path,
                                    const std::vector<TChunkInPackage>& Chunks,
                                    const std::vector<TChunkReuseRecord>& Records,
                                    const std::vector<int>& Missing)
{
    QFile from(Staged.Path);
    QFile to(Path);
    std::vector<int> still;
    for (const int position : Missing) {
        if (!std::binary_search(Staged.Positions.begin(), Staged.Positions.end(), position)) {
            still.push_back(position);
            continue;
        }
        if (!from.isOpen() && !from.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            throw ::shared::ioError(from.fileName(), from.errorString());
        if (!to.isOpen() && !to.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
            throw ::shared::ioError(to.fileName(), to.errorString());
        const TChunkReuseRecord& record = Records[size_t(position)];
        if (!copyVerifiedPiece(from, record.TargetOffset, to, record.TargetOffset, record.Size,
                               Chunks[size_t(position)].UnpackedHash))
            still.push_back(position);
    }
    if (to.isOpen()) {
        to.close();
        if (to.error() != QFileDevice::NoError)
            throw ::shared::ioError(to.fileName(), to.errorString());
    }
    return still;
}

TFileToDownload planWholeFile(const TFileInPackage& File, const QString& Path,
                              const TPlanningInputs& Inputs)
{
    if (matchesWholeFile(File, Path, Inputs))
        return describe(File, {});
    const TStagedFile* staged = stagedFor(Path, Inputs);
    if (staged && moveIntoPlace(*staged, Path)) {
        qInfo() << "reuseable file found in other files " << File.LocalFile << threadSuffix;
        return describe(File, {});
    }
    return fetchWhole(File, Path, Inputs);
}

// The installed configuration's chunks of the same file, when it has at least two and all exist.
bool describeFromInstalledList(const TFileInPackage& File, const TPlanningInputs& Inputs,
                               TChunkMatcher& Matcher)
{
    const TFileInPackageVector& installed = Inputs.InstalledFiles;
    const auto found = std::lower_bound(
        installed.begin(), installed.end(), File.LocalFile,
        [](const TFileInPackage& entry, const QString& path) { return entry.LocalFile < path; });
    if (found == installed.end() || found->LocalFile != File.LocalFile ||
        found->ChunkIndexes.size() < 2)
        return false;
    for (const qint32 index : found->ChunkIndexes)
        if (index < 0 || size_t(index) >= Inputs.InstalledChunks.size())
            return false;
    for (const qint32 index : found->ChunkIndexes) {
        const TChunkInPackage& chunk = Inputs.InstalledChunks[size_t(index)];
        Inputs.Progress.add(chunk.UnpackedSize);
        Matcher.addLocalChunk(chunk.UnpackedHash, chunk.UnpackedSize);
    }
    return true;
}

void describeByScanning(const QString& Path, const TPlanningInputs& Inputs, TChunkMatcher& Matcher)
{
    ::shared::TStoppableFile file(Path, stopFlag(Inputs));
    if (!::shared::openRegularFileForReading(file))
        return;
    // A read error ends the description early; what was described until then is still true.
    ::shared::scanContentDefinedChunks(file, [&](const QByteArray& Hash, quint64 Length) {
        Inputs.Progress.add(Length);
        Matcher.addLocalChunk(Hash, Length);
    });
    throwWhenStopped(Inputs);
}

TFileToDownload planChunkedFile(const TFileInPackage& File, const QString& Path,
                                const TPlanningInputs& Inputs)
{
    std::vector<TChunkInPackage> wanted = lookUpChunks(File, Inputs.RemoteChunks);
    TChunkMatcher matcher(wanted, Path);
    if (!describeFromInstalledList(File, Inputs, matcher))
        describeByScanning(Path, Inputs, matcher);

    const TStagedFile* staged = stagedFor(Path, Inputs);
    if (!matcher.foundAnything()) {
        // Nothing of the old file is kept, and other files' pieces of it are staged already.
        if (!staged || !moveIntoPlace(*staged, Path))
            return fetchWhole(File, Path, Inputs);
        TFileToDownload result = describe(File, std::move(wanted));
        result.Positions = positionsNotIn(staged->Positions, result.Chunks.size());
        return result;
    }

    TFileToDownload result = describe(File, std::move(wanted));
    try {
        result.Positions = rearrangeChunksInPlace(Path, matcher.records(), File.UnpackedSize);
        // After the moves: a staged piece written first could cover old bytes a move needs.
        if (staged)
            result.Positions = fillFromStagedFile(*staged, Path, result.Chunks, matcher.records(),
                                                  result.Positions);
    } catch (const std::runtime_error& error) {
        qWarning() << "rearranging chunks failed, fetching the whole file: " << error.what()
                   << threadSuffix;
        return fetchWhole(File, Path, Inputs);
    }
    return result;
}

} // namespace

TFileToDownload planFile(const TFileInPackage& File, const TPlanningInputs& Inputs)
{
    const QString path =
        resolveFileInInstallation(Inputs.FileSystem, Inputs.InstallationDirectory, File.LocalFile);
    // A link is not the document's file, whatever it points to: reused in place, the file it
    // points to would be rewritten, wherever it is. Fetched whole, the link is replaced.
    const QFileInfo info(path);
    if (info.isSymLink())
        return everyPiece(File, Inputs);
    // Nor is a folder, a FIFO, a socket or a device, and reading one could hold the planning for
    // good (a FIFO waits for a writer). Fetched whole, it is removed when the file is written; a
    // folder that holds anything stays and fails the installation.
    if (info.exists() && !::shared::isRegularFile(path))
        return everyPiece(File, Inputs);
    if (Inputs.ReplaceWholeFiles)
        return matchesWholeFile(File, path, Inputs) ? describe(File, {}) : everyPiece(File, Inputs);
    if (File.ChunkIndexes.size() < 2)
        return planWholeFile(File, path, Inputs);
    return planChunkedFile(File, path, Inputs);
}

} // namespace orvik::launcher
