#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <vector>

namespace powerloss {

// One file, folder or symbolic link of a tree; Content is a file's bytes or a link's target.
struct TEntry
{
    char Kind = 'f'; // 'f', 'd' or 'l'
    QByteArray Content;
    QByteArray Hash; // of Content, to tell states apart without comparing bytes
    uint Mode = 0;   // permission bits
};
// Paths relative to the tree's root, parents before their children.
using TTree = QMap<QString, TEntry>;

// What a power cut keeps of the operations not yet made durable.
enum class EModel {
    // Only what fsync made durable: a file's bytes and mode by its own fsync, a folder's names by
    // the fsync of that folder; everything else is lost.
    Pessimistic,
    // ext4 with data=ordered and delayed allocation: every name and mode change up to the cut
    // persists, in order; a file's bytes only by fsync, or by a rename over an existing file
    // (auto_da_alloc). Unsynced files are empty or short.
    Ext4,
};
QString modelName(EModel Model);

// One line of the log: its tab-separated fields and, for a write, the bytes written.
struct TOperation
{
    QStringList Fields;
    QByteArray Data;
};

struct TCrashState
{
    int Point = 0;     // operations done before the cut
    QString Operation; // the last of them, as logged
    TTree Tree;
};

// The log of the recording file system, replayed on the tree it started from.
class TCrashReplay
{
public:
    // The folder as it was when the recording began; false with the reason when unreadable.
    bool loadInitialTree(const QString& Folder, QString& Error);
    bool loadLog(const QString& LogPath, QString& Error);

    int operationCount() const { return int(m_Operations.size()); }
    // The operation as logged; Index counts from 0.
    QString operation(int Index) const;

    // Every distinct tree that a cut after any operation can leave under the model, in log
    // order, each with the first point that leaves it. False with the reason when the log does
    // not fit the tree (an operation on a path that is not there).
    bool states(EModel Model, std::vector<TCrashState>& States, QString& Error) const;
    // Every operation applied and nothing lost: what the backing folder holds in the end.
    bool finalTree(TTree& Tree, QString& Error) const;

private:
    TTree m_Initial;
    std::vector<TOperation> m_Operations;
};

// The tree of a folder on the disk.
bool readTree(const QString& Folder, TTree& Tree, QString& Error);
// Writes the tree into an empty or missing folder.
bool writeTree(const TTree& Tree, const QString& Folder, QString& Error);
// The paths whose entries differ, each with what differs.
QStringList treeDifferences(const TTree& Expected, const TTree& Actual);

} // namespace powerloss
