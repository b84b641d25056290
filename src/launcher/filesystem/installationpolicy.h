#pragma once

#include <QString>

#include <memory>

namespace shared {
class TFileSystemHelper;
}

namespace orvik::launcher {

// What differs between installing the game and installing the launcher over itself, chosen once
// when an installation manager is made. This one is the game's: its files are written where they
// stand and its folder is its own. The launcher's own package brings a policy of its own.
class TInstallationPolicy
{
public:
    virtual ~TInstallationPolicy() = default;

    // Readies Path for its new content and returns the path to write that content to. With
    // KeepsContent, ranges of the file at Path are reused and must be there to write around.
    // Throws std::runtime_error, a ::shared::TWriteError when a folder stays in the file's place.
    virtual QString prepareFile(::shared::TFileSystemHelper& FileSystem, const QString& Path,
                                bool KeepsContent) const;
    // The content written to WritePath is complete and closed; written under another name, it is
    // also on the disk. Throws std::runtime_error.
    virtual void completeFile(const QString& WritePath, const QString& Path) const;
    // Removes a file that the new version no longer lists, or a folder at its place as far as
    // the folder holds no files. Throws std::runtime_error.
    virtual void removeFile(::shared::TFileSystemHelper& FileSystem, const QString& Path) const;

    // Whether a file that differs is fetched whole instead of being changed in place.
    virtual bool replacesWholeFiles() const { return false; }
    // Whether the installation owns its folder: it may then sweep what interrupted runs left
    // there and keep files of its own beside the documents, such as their signatures.
    virtual bool ownsDirectory() const { return true; }
};

std::shared_ptr<const TInstallationPolicy> gameInstallationPolicy();

} // namespace orvik::launcher
