#pragma once

#include "launcher/configuration/packageconfigurationreader.h"

#include <QByteArray>
#include <QFile>
#include <QMutex>
#include <QString>
#include <QTemporaryFile>

#include <list>
#include <memory>
#include <vector>

namespace orvik::launcher {

struct TFileToDownload;

// One file being assembled from chunks that arrive in any order on worker threads. Its lock is
// held while one chunk is applied, so writes into the file happen strictly in file order.
class TChunkedFileState
{
public:
    explicit TChunkedFileState(const TFileToDownload& File);

    // Byte offset of chunk Index: the sum of the sizes of the chunks before it.
    TFileSize offsetOf(int Index) const { return m_Offsets[static_cast<size_t>(Index)]; }

    QString RelativePath;
    TFileSize Size = 0;
    QByteArray Hash;
    bool Executable = false;
    std::vector<TFilePatch> Patches;
    std::vector<TChunkInPackage> Chunks;
    QMutex Lock;
    // Positions still to be written, in file order.
    std::list<int> Outstanding;
    bool Prepared = false;
    // Where the file is written when that is not its own path: a self-update writes the launcher's
    // files completely under a temporary name and then renames them into place.
    QString WritePath;
    QFile TargetFile;

private:
    std::vector<TFileSize> m_Offsets;
};

// A chunk body that arrived before its turn in some file, kept until its last position is written.
// Every field is read and written under the downloader's cache lock only.
struct TPendingChunk
{
    enum EStorage { NotArrived = 0, InMemory = 1, InTemporaryFile = 2 };

    int Uses = 0; // positions, over all files of the run, still to be written from this body
    QByteArray Data;
    // Owns the parked file (removed with it). Files sharing the body read it on several threads
    // at once, each through a handle of its own opened by TemporaryFilePath: one file object
    // cannot serve two threads.
    std::unique_ptr<QTemporaryFile> TemporaryFile;
    QString TemporaryFilePath;
    int Storage = NotArrived;
};

} // namespace orvik::launcher
