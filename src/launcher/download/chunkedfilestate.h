#pragma once

#include "launcher/configuration/packageconfigurationreader.h"

#include <QByteArray>
#include <QFile>
#include <QMutex>
#include <QString>
#include <QTemporaryFile>

#include <memory>
#include <utility>
#include <vector>

namespace orvik::launcher {

struct TFileToDownload;

// Positions of a file still to be written, in file order; taken from the front. A vector with a
// read position: a list would cost a node per position, and a package of many small files has
// one per file.
class TOutstandingPositions
{
public:
    explicit TOutstandingPositions(std::vector<int> Positions) : m_Positions(std::move(Positions))
    {}
    bool empty() const { return m_Next == m_Positions.size(); }
    size_t size() const { return m_Positions.size() - m_Next; }
    int front() const { return m_Positions[m_Next]; }
    void pop_front()
    {
        if (++m_Next < m_Positions.size())
            return;
        m_Positions = std::vector<int>(); // done: gives the memory back
        m_Next = 0;
    }
    std::vector<int>::const_iterator begin() const
    {
        return m_Positions.begin() + std::ptrdiff_t(m_Next);
    }
    std::vector<int>::const_iterator end() const { return m_Positions.end(); }

private:
    std::vector<int> m_Positions;
    size_t m_Next = 0;
};

// One file being assembled from chunks that arrive in any order on worker threads. Its lock is
// held while one chunk is applied, so writes into the file happen strictly in file order.
class TChunkedFileState
{
public:
    explicit TChunkedFileState(const TFileToDownload& File);
    explicit TChunkedFileState(TFileToDownload&& File);

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
    TOutstandingPositions Outstanding;
    bool Prepared = false;
    // Where the file is written, as its installation's policy chose: its own path, or a temporary
    // name that is renamed over it once the file is complete.
    QString WritePath;
    // Open while the file is assembled; none before and after, as a file object is large.
    std::unique_ptr<QFile> TargetFile;

private:
    void computeOffsets();

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
