#include "publisher/diff/versiondifference.h"

#include <algorithm>
#include <map>
#include <set>

namespace orvik::publisher {

using launcher::TChunkInPackage;
using launcher::TFileInPackage;
using launcher::TPackageConfigurationReader;

namespace {

std::vector<const TChunkInPackage*> piecesOf(const TFileInPackage& file,
                                             const TPackageConfigurationReader& version)
{
    // Mirrors the planning: a file downloaded whole uses its own entry when it has a URL.
    if (file.ChunkIndexes.size() < 2 && !file.WholeFile.Url.isEmpty())
        return {&file.WholeFile};
    std::vector<const TChunkInPackage*> pieces;
    for (const qint32 index : file.ChunkIndexes)
        if (index >= 0 && std::size_t(index) < version.getChunks().size())
            pieces.push_back(&version.getChunks()[std::size_t(index)]);
    return pieces;
}

// Every piece an intact installation of the version holds, by digest and size, wherever it lies:
// the launcher assembles any file from them. A chunked file holds its chunks, a smaller file
// itself.
std::map<QByteArray, TFileSize> installedPieces(const TPackageConfigurationReader& Version)
{
    std::map<QByteArray, TFileSize> pieces;
    const auto& chunks = Version.getChunks();
    for (const TFileInPackage& file : Version.getFiles()) {
        if (file.ChunkIndexes.size() < 2) {
            if (!file.UnpackedHash.isEmpty())
                pieces.emplace(file.UnpackedHash, file.UnpackedSize);
            continue;
        }
        const bool valid =
            std::all_of(file.ChunkIndexes.begin(), file.ChunkIndexes.end(), [&](qint32 Index) {
                return Index >= 0 && std::size_t(Index) < chunks.size();
            });
        if (!valid)
            continue;
        for (const qint32 index : file.ChunkIndexes) {
            const TChunkInPackage& chunk = chunks[std::size_t(index)];
            if (!chunk.UnpackedHash.isEmpty())
                pieces.emplace(chunk.UnpackedHash, chunk.UnpackedSize);
        }
    }
    return pieces;
}

bool holds(const std::map<QByteArray, TFileSize>& Pieces, const QByteArray& Hash, TFileSize Size)
{
    const auto found = Pieces.find(Hash);
    return found != Pieces.end() && found->second == Size;
}

} // namespace

TVersionDifference diffVersions(const TPackageConfigurationReader& oldVersion,
                                const TPackageConfigurationReader& newVersion)
{
    TVersionDifference difference;
    std::map<QString, const TFileInPackage*> oldFiles;
    for (const TFileInPackage& file : oldVersion.getFiles())
        oldFiles.emplace(file.LocalFile, &file);

    const std::map<QByteArray, TFileSize> local = installedPieces(oldVersion);
    std::map<QByteArray, const TChunkInPackage*> toFetch;
    std::map<QByteArray, const TChunkInPackage*> wholeVersion;
    std::set<QString> newPaths;
    for (const TFileInPackage& file : newVersion.getFiles()) {
        newPaths.insert(file.LocalFile);
        const std::vector<const TChunkInPackage*> pieces = piecesOf(file, newVersion);
        for (const TChunkInPackage* piece : pieces)
            wholeVersion.emplace(piece->UnpackedHash, piece);

        const auto old = oldFiles.find(file.LocalFile);
        if (old == oldFiles.end()) {
            ++difference.FilesAdded;
        } else if (old->second->UnpackedSize == file.UnpackedSize &&
                   old->second->UnpackedHash == file.UnpackedHash) {
            ++difference.FilesUnchanged;
            continue;
        } else {
            ++difference.FilesChanged;
        }
        // A file fetched whole is taken from wherever the old version holds the same content;
        // a chunked one is assembled from the chunks the old version holds anywhere.
        if (file.ChunkIndexes.size() < 2) {
            if (!holds(local, file.UnpackedHash, file.UnpackedSize))
                for (const TChunkInPackage* piece : pieces)
                    toFetch.emplace(piece->UnpackedHash, piece);
            continue;
        }
        for (const TChunkInPackage* piece : pieces)
            if (!holds(local, piece->UnpackedHash, piece->UnpackedSize))
                toFetch.emplace(piece->UnpackedHash, piece);
    }
    for (const TFileInPackage& file : oldVersion.getFiles())
        if (!newPaths.count(file.LocalFile))
            ++difference.FilesDeleted;

    for (const auto& [hash, piece] : toFetch) {
        ++difference.PiecesToFetch;
        difference.PackedBytesToFetch += piece->PackedSize;
        difference.UnpackedBytesToFetch += piece->UnpackedSize;
    }
    for (const auto& [hash, piece] : wholeVersion) {
        ++difference.PiecesOfNewVersion;
        difference.PackedBytesOfNewVersion += piece->PackedSize;
    }
    return difference;
}

} // namespace orvik::publisher
