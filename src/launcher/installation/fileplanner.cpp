#include "launcher/installation/fileplanner.h"

#include "launcher/installation/chunkmatcher.h"
#include "launcher/installation/chunkrearranger.h"
#include "launcher/installation/installationpath.h"
#include "launcher/logging/logging.h"
#include "shared/chunker/chunkscanner.h"
#include "shared/filesystemhelper/filesystemhelper.h"
#include "shared/hash/sha256.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace orvik::launcher {

namespace {

constexpr qint64 kHashReadSize = 1048576;

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

QByteArray hashWholeFile(const QString& Path)
{
    QFile file(Path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return {};
    ::shared::TSha256 hash;
    std::vector<char> buffer(static_cast<size_t>(kHashReadSize));
    for (;;) {
        const qint64 read = file.read(buffer.data(), kHashReadSize);
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
    const QByteArray hash = hashWholeFile(Path);
    const QFileInfo info(Path);
    const TFileSize size = info.exists() ? TFileSize(info.size()) : 0;
    Inputs.Progress.add(size);
    if (size == File.UnpackedSize && !hash.isEmpty() && hash == File.UnpackedHash) {
        qInfo() << "reuseable file found " << File.LocalFile << threadSuffix;
        return true;
    }
    return false;
}

TFileToDownload planWholeFile(const TFileInPackage& File, const QString& Path,
                              const TPlanningInputs& Inputs)
{
    if (matchesWholeFile(File, Path, Inputs))
        return describe(File, {});
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
    QFile file(Path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return;
    // A read error ends the description early; what was described until then is still true.
    ::shared::scanContentDefinedChunks(file, [&](const QByteArray& Hash, quint64 Length) {
        Inputs.Progress.add(Length);
        Matcher.addLocalChunk(Hash, Length);
    });
}

TFileToDownload planChunkedFile(const TFileInPackage& File, const QString& Path,
                                const TPlanningInputs& Inputs)
{
    std::vector<TChunkInPackage> wanted = lookUpChunks(File, Inputs.RemoteChunks);
    TChunkMatcher matcher(wanted, Path);
    if (!describeFromInstalledList(File, Inputs, matcher))
        describeByScanning(Path, Inputs, matcher);

    if (!matcher.foundAnything())
        return fetchWhole(File, Path, Inputs);

    TFileToDownload result = describe(File, std::move(wanted));
    try {
        result.Positions = rearrangeChunksInPlace(Path, matcher.records(), File.UnpackedSize);
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
    if (QFileInfo(path).isSymLink())
        return everyPiece(File, Inputs);
    if (Inputs.ReplaceWholeFiles)
        return matchesWholeFile(File, path, Inputs) ? describe(File, {}) : everyPiece(File, Inputs);
    if (File.ChunkIndexes.size() < 2)
        return planWholeFile(File, path, Inputs);
    return planChunkedFile(File, path, Inputs);
}

} // namespace orvik::launcher
