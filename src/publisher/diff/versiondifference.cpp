#include "publisher/diff/versiondifference.h"

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

// The digests of the content-defined chunks of an installed file: its chunk list, or the file
// itself when it is too small to be cut.
std::set<QByteArray> localChunkHashes(const TFileInPackage& file,
                                      const TPackageConfigurationReader& version)
{
    std::set<QByteArray> hashes;
    if (file.ChunkIndexes.empty()) {
        hashes.insert(file.UnpackedHash);
        return hashes;
    }
    for (const TChunkInPackage* chunk : piecesOf(file, version))
        hashes.insert(chunk->UnpackedHash);
    return hashes;
}

} // namespace

TVersionDifference diffVersions(const TPackageConfigurationReader& oldVersion,
                                const TPackageConfigurationReader& newVersion)
{
    TVersionDifference difference;
    std::map<QString, const TFileInPackage*> oldFiles;
    for (const TFileInPackage& file : oldVersion.getFiles())
        oldFiles.emplace(file.LocalFile, &file);

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
        std::set<QByteArray> local;
        if (old != oldFiles.end() && file.ChunkIndexes.size() >= 2)
            local = localChunkHashes(*old->second, oldVersion);
        for (const TChunkInPackage* piece : pieces)
            if (!local.count(piece->UnpackedHash))
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
