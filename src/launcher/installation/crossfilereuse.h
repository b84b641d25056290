#pragma once

#include "launcher/configuration/packageconfigurationreader.h"

#include <QDir>
#include <QFileDevice>
#include <QHash>
#include <QString>

#include <atomic>
#include <vector>

namespace shared {
class TFileSystemHelper;
}

namespace orvik::launcher {

// Bytes of a wanted file that other installed files hold (a file moved or renamed, content that
// several files share), copied and verified into "<file>.reuse-XXXXXX" beside it, each at the
// offset where the wanted file needs it.
struct TStagedFile
{
    QString Path;
    // Ascending positions in the wanted file's chunk list whose bytes the staged file holds; {0}
    // for a file of fewer than two chunks means its whole content.
    std::vector<int> Positions;
};

// The staged files of one planning, by the cleaned path of the wanted file. Whatever was not
// moved into place is removed with it.
class TStagedFiles
{
public:
    TStagedFiles() = default;
    TStagedFiles(const TStagedFiles&) = delete;
    TStagedFiles& operator=(const TStagedFiles&) = delete;
    ~TStagedFiles();

    void add(const QString& WantedPath, const TStagedFile& File);
    const TStagedFile* find(const QString& WantedPath) const;

private:
    QHash<QString, TStagedFile> m_Files;
};

// What the old document says about the installation, and the wanted files to look for in it.
struct TReuseInputs
{
    QDir InstallationDirectory;
    ::shared::TFileSystemHelper& FileSystem;
    const TFileInPackageVector& RemoteFiles;
    const TChunkInPackageVector& RemoteChunks;
    const TFileInPackageVector& InstalledFiles;
    const TChunkInPackageVector& InstalledChunks;
    const std::atomic<bool>& StopRequested;
    int WorkerCount = 1;
};

// Stages, for every wanted file, the pieces the installed version of the same path does not hold
// but another installed file does, by the old document's chunk lists (no file is scanned for
// them). Must run before any installed file is changed or deleted: the bytes are read where the
// old document puts them, and each piece is checked against its SHA-256 before it is written. A
// piece whose bytes differ, or a source that cannot be read, is left to be fetched.
void stageChunksFromOtherFiles(const TReuseInputs& Inputs, TStagedFiles& Staged);

// Copies Size bytes at FromOffset to ToOffset when their SHA-256 is Hash; false, with nothing
// written, when they cannot be read or differ. Throws std::runtime_error when the write fails.
bool copyVerifiedPiece(QFileDevice& From, TFileSize FromOffset, QFileDevice& To, TFileSize ToOffset,
                       TFileSize Size, const QByteArray& Hash);

} // namespace orvik::launcher
