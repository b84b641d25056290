#include "crashstates.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSet>

#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

namespace powerloss {

namespace {

namespace fs = std::filesystem;

QByteArray hashOf(const QByteArray& Bytes)
{
    return QCryptographicHash::hash(Bytes, QCryptographicHash::Sha1);
}

// A file, folder or link as the replay knows it: what reads show now and what a cut keeps.
struct TNode
{
    char Kind = 'f';
    QByteArray Data;
    QByteArray Durable;
    QByteArray DurableHash;
    uint Mode = 0;
    uint DurableMode = 0;
    std::map<QString, std::shared_ptr<TNode>> Entries;
    std::map<QString, std::shared_ptr<TNode>> DurableEntries;

    void makeDurable(bool bWithMode)
    {
        Durable = Data;
        DurableHash = hashOf(Durable);
        if (bWithMode)
            DurableMode = Mode;
    }
};
using TNodePtr = std::shared_ptr<TNode>;

TNodePtr makeNode(char Kind, uint Mode, const QByteArray& Data = {})
{
    auto node = std::make_shared<TNode>();
    node->Kind = Kind;
    node->Mode = node->DurableMode = Mode;
    node->Data = Data;
    node->makeDurable(true);
    return node;
}

// Grown with zero bytes or cut to Size.
QByteArray resized(const QByteArray& Bytes, qint64 Size)
{
    return Size <= Bytes.size() ? Bytes.left(int(Size))
                                : Bytes + QByteArray(int(Size - Bytes.size()), '\0');
}

class TReplay
{
public:
    TReplay(const TTree& Initial, EModel Model) : m_Model(Model), m_pRoot(makeNode('d', 0755))
    {
        for (auto entry = Initial.begin(); entry != Initial.end(); ++entry) {
            const TNodePtr node = makeNode(entry->Kind, entry->Mode, entry->Content);
            auto [parent, name] = locate(entry.key());
            parent->Entries[name] = node;
            parent->DurableEntries[name] = node;
        }
    }

    // Applies the operation; true when a cut right after it may leave another tree than before.
    bool apply(const TOperation& Operation)
    {
        const QStringList& f = Operation.Fields;
        const QString& op = f.at(0);
        const bool ext4 = m_Model == EModel::Ext4;
        if (op == "create" || op == "mkdir" || op == "symlink") {
            const char kind = op == "create" ? 'f' : op == "mkdir" ? 'd' : 'l';
            const uint mode = kind == 'l' ? 0777 : f.at(2).toUInt();
            insert(f.at(1), makeNode(kind, mode, kind == 'l' ? f.at(2).toUtf8() : QByteArray()));
            return ext4;
        }
        if (op == "link") {
            insert(f.at(2), find(f.at(1)));
            return ext4;
        }
        if (op == "unlink" || op == "rmdir") {
            auto [parent, name] = locate(f.at(1));
            if (parent->Entries.erase(name) == 0)
                throw std::runtime_error("no such entry");
            return ext4;
        }
        if (op == "rename")
            return rename(f.at(1), f.at(2));
        if (op == "open")
            return false;
        const TNodePtr node = find(f.at(1));
        if (op == "write") {
            const qint64 offset = f.at(2).toLongLong();
            if (node->Data.size() < offset + Operation.Data.size())
                node->Data = resized(node->Data, offset + Operation.Data.size());
            node->Data.replace(int(offset), Operation.Data.size(), Operation.Data);
            return false;
        }
        if (op == "truncate") {
            node->Data = resized(node->Data, f.at(2).toLongLong());
            // ext4 journals the size with the other metadata; the bytes come later.
            if (ext4) {
                node->Durable = resized(node->Durable, f.at(2).toLongLong());
                node->DurableHash = hashOf(node->Durable);
            }
            return ext4;
        }
        if (op == "chmod") {
            node->Mode = f.at(2).toUInt();
            return ext4;
        }
        if (op == "fsync" && node->Kind == 'f') {
            node->makeDurable(f.at(2) == "0");
            return true;
        }
        if (op == "fsync" || op == "fsyncdir") {
            node->DurableEntries = node->Entries;
            node->DurableMode = node->Mode;
            return !ext4;
        }
        throw std::runtime_error("unknown operation");
    }

    // What a cut now leaves under the model; with Current, what the folder holds.
    TTree tree(bool bCurrent = false) const
    {
        TTree tree;
        addBelow(*m_pRoot, QString(), bCurrent, tree);
        return tree;
    }

private:
    bool rename(const QString& From, const QString& To)
    {
        const TNodePtr node = find(From);
        auto [toParent, toName] = locate(To);
        const auto replaced = toParent->Entries.find(toName);
        // auto_da_alloc: ext4 writes the data of a file renamed over another before the rename.
        if (m_Model == EModel::Ext4 && replaced != toParent->Entries.end() && node->Kind == 'f')
            node->makeDurable(false);
        auto [fromParent, fromName] = locate(From);
        fromParent->Entries.erase(fromName);
        toParent->Entries[toName] = node;
        return m_Model == EModel::Ext4;
    }

    void addBelow(const TNode& Folder, const QString& Prefix, bool bCurrent, TTree& Tree) const
    {
        const bool durableNames = !bCurrent && m_Model == EModel::Pessimistic;
        for (const auto& [name, node] : durableNames ? Folder.DurableEntries : Folder.Entries) {
            const QString path = Prefix + name;
            TEntry& entry = Tree[path];
            entry.Kind = node->Kind;
            entry.Mode = durableNames ? node->DurableMode : node->Mode;
            entry.Content = bCurrent ? node->Data : node->Durable;
            entry.Hash = bCurrent ? hashOf(node->Data) : node->DurableHash;
            if (node->Kind == 'd')
                addBelow(*node, path + '/', bCurrent, Tree);
        }
    }

    // The folder that holds the path's last name, and that name.
    std::pair<TNodePtr, QString> locate(const QString& Path) const
    {
        QStringList names = Path.split('/', Qt::SkipEmptyParts);
        if (names.isEmpty())
            throw std::runtime_error("no name");
        const QString last = names.takeLast();
        TNodePtr folder = m_pRoot;
        for (const QString& name : names) {
            const auto next = folder->Entries.find(name);
            if (next == folder->Entries.end() || next->second->Kind != 'd')
                throw std::runtime_error("no such folder");
            folder = next->second;
        }
        return {folder, last};
    }

    TNodePtr find(const QString& Path) const
    {
        if (Path.split('/', Qt::SkipEmptyParts).isEmpty())
            return m_pRoot;
        auto [folder, name] = locate(Path);
        const auto found = folder->Entries.find(name);
        if (found == folder->Entries.end())
            throw std::runtime_error("no such entry");
        return found->second;
    }

    void insert(const QString& Path, const TNodePtr& Node)
    {
        auto [folder, name] = locate(Path);
        folder->Entries[name] = Node;
    }

    EModel m_Model;
    TNodePtr m_pRoot;
};

QByteArray fingerprint(const TTree& Tree)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (auto entry = Tree.begin(); entry != Tree.end(); ++entry)
        hash.addData(entry.key().toUtf8() + '\0' + entry->Kind + QByteArray::number(entry->Mode) +
                     entry->Hash);
    return hash.result();
}

} // namespace

QString modelName(EModel Model)
{
    return Model == EModel::Pessimistic ? QStringLiteral("pessimistic") : QStringLiteral("ext4");
}

bool TCrashReplay::loadInitialTree(const QString& Folder, QString& Error)
{
    return readTree(Folder, m_Initial, Error);
}

bool TCrashReplay::loadLog(const QString& LogPath, QString& Error)
{
    QFile log(LogPath);
    QFile data(LogPath + ".data");
    if (!log.open(QIODevice::ReadOnly) || !data.open(QIODevice::ReadOnly)) {
        Error = "cannot read " + LogPath;
        return false;
    }
    const QByteArray bytes = data.readAll();
    m_Operations.clear();
    for (const QByteArray& line : log.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        TOperation operation{QString::fromUtf8(line).split('\t'), {}};
        if (operation.Fields.size() < 2) {
            Error = "malformed log line: " + QString::fromUtf8(line);
            return false;
        }
        if (operation.Fields.at(0) == "write")
            operation.Data =
                bytes.mid(operation.Fields.at(4).toInt(), operation.Fields.at(3).toInt());
        m_Operations.push_back(operation);
    }
    return true;
}

QString TCrashReplay::operation(int Index) const
{
    const QStringList& fields = m_Operations.at(size_t(Index)).Fields;
    // A write's place in the data file says nothing to a reader.
    return (fields.at(0) == "write" ? QStringList(fields.mid(0, 4)) : fields).join(' ');
}

bool TCrashReplay::states(EModel Model, std::vector<TCrashState>& States, QString& Error) const
{
    States.clear();
    TReplay replay(m_Initial, Model);
    QSet<QByteArray> seen{fingerprint(m_Initial)};
    for (int index = 0; index < operationCount(); ++index) {
        try {
            if (!replay.apply(m_Operations[size_t(index)]))
                continue;
        } catch (const std::exception& error) {
            Error = QStringLiteral("%1 at operation %2: %3")
                        .arg(QString::fromUtf8(error.what()))
                        .arg(index + 1)
                        .arg(operation(index));
            return false;
        }
        TTree tree = replay.tree();
        const QByteArray key = fingerprint(tree);
        if (seen.contains(key))
            continue;
        seen.insert(key);
        States.push_back({index + 1, operation(index), std::move(tree)});
    }
    return true;
}

bool TCrashReplay::finalTree(TTree& Tree, QString& Error) const
{
    TReplay replay(m_Initial, EModel::Ext4);
    for (int index = 0; index < operationCount(); ++index) {
        try {
            replay.apply(m_Operations[size_t(index)]);
        } catch (const std::exception& error) {
            Error = QString::fromUtf8(error.what()) + " at " + operation(index);
            return false;
        }
    }
    Tree = replay.tree(true);
    return true;
}

bool readTree(const QString& Folder, TTree& Tree, QString& Error)
{
    Tree.clear();
    std::error_code failure;
    const fs::path root = Folder.toStdString();
    for (auto it = fs::recursive_directory_iterator(root, failure);
         !failure && it != fs::recursive_directory_iterator(); it.increment(failure)) {
        const fs::file_status status = it->symlink_status();
        TEntry entry;
        entry.Mode = uint(status.permissions()) & 07777;
        if (fs::is_symlink(status)) {
            entry.Kind = 'l';
            entry.Content = QByteArray::fromStdString(fs::read_symlink(it->path()).string());
        } else if (fs::is_directory(status)) {
            entry.Kind = 'd';
        } else {
            QFile file(QString::fromStdString(it->path().string()));
            if (!file.open(QIODevice::ReadOnly)) {
                Error = "cannot read " + file.fileName();
                return false;
            }
            entry.Content = file.readAll();
        }
        entry.Hash = hashOf(entry.Content);
        Tree.insert(QString::fromStdString(it->path().lexically_relative(root).string()), entry);
    }
    if (failure)
        Error = QString::fromStdString(failure.message()) + " in " + Folder;
    return !failure;
}

bool writeTree(const TTree& Tree, const QString& Folder, QString& Error)
{
    if (!QDir().mkpath(Folder)) {
        Error = "cannot make " + Folder;
        return false;
    }
    for (auto entry = Tree.begin(); entry != Tree.end(); ++entry) {
        const QByteArray path = QFile::encodeName(Folder + '/' + entry.key());
        bool made = true;
        if (entry->Kind == 'd') {
            made = ::mkdir(path.constData(), 0700) == 0;
        } else if (entry->Kind == 'l') {
            made = ::symlink(entry->Content.constData(), path.constData()) == 0;
        } else {
            QFile file(QString::fromLocal8Bit(path));
            made = file.open(QIODevice::WriteOnly) &&
                   file.write(entry->Content) == entry->Content.size();
        }
        if (!made) {
            Error = "cannot write " + QString::fromLocal8Bit(path);
            return false;
        }
    }
    // Modes last: a folder without write permission still takes its entries.
    for (auto entry = Tree.begin(); entry != Tree.end(); ++entry) {
        const QByteArray path = QFile::encodeName(Folder + '/' + entry.key());
        if (entry->Kind != 'l' && ::chmod(path.constData(), entry->Mode) != 0) {
            Error = "cannot set the mode of " + QString::fromLocal8Bit(path);
            return false;
        }
    }
    return true;
}

QStringList treeDifferences(const TTree& Expected, const TTree& Actual)
{
    QStringList differences;
    for (auto entry = Expected.begin(); entry != Expected.end(); ++entry) {
        const auto actual = Actual.find(entry.key());
        if (actual == Actual.end())
            differences << entry.key() + " is missing";
        else if (actual->Kind != entry->Kind)
            differences << entry.key() + " is of another kind";
        else if (actual->Content != entry->Content)
            differences << QStringLiteral("%1 differs (%2 bytes, %3 expected)")
                               .arg(entry.key())
                               .arg(actual->Content.size())
                               .arg(entry->Content.size());
        else if (actual->Mode != entry->Mode)
            differences << QStringLiteral("%1 has mode %2, %3 expected")
                               .arg(entry.key())
                               .arg(actual->Mode, 0, 8)
                               .arg(entry->Mode, 0, 8);
    }
    for (auto entry = Actual.begin(); entry != Actual.end(); ++entry)
        if (!Expected.contains(entry.key()))
            differences << entry.key() + " is not expected";
    return differences;
}

} // namespace powerloss
