// The crash-state models on short hand-written logs: what each keeps of unsynced names, bytes
// and modes, and that a tree is written and read back as it was.
#include "crashstates.h"

#include <QTemporaryDir>
#include <QtTest>

using powerloss::EModel;
using powerloss::TCrashReplay;
using powerloss::TCrashState;
using powerloss::TEntry;
using powerloss::TTree;

namespace {

TEntry entry(char Kind, const QByteArray& Content, uint Mode)
{
    TEntry made;
    made.Kind = Kind;
    made.Content = Content;
    made.Mode = Mode;
    return made;
}

// A folder "d" holding "old" with "old".
TTree initialTree()
{
    return {{"d", entry('d', {}, 0755)}, {"d/old", entry('f', "old", 0644)}};
}

// Files, modes and link targets by path, as one line each: easy to compare and to read.
QStringList describe(const TTree& Tree)
{
    QStringList lines;
    for (auto it = Tree.begin(); it != Tree.end(); ++it)
        lines << QStringLiteral("%1 %2 %3 %4")
                     .arg(it.key())
                     .arg(it->Kind)
                     .arg(it->Mode, 0, 8)
                     .arg(QString::fromUtf8(QByteArray(it->Content).replace('\0', '.')));
    return lines;
}

} // namespace

class TestCrashStates : public QObject
{
    Q_OBJECT

private slots:
    void pessimisticKeepsOnlySyncedNamesBytesAndModes()
    {
        const std::vector<TCrashState> states =
            replay(EModel::Pessimistic,
                   {"create /d/new 420", "write /d/new 0 abc", "fsync /d/new 0", "unlink /d/old",
                    "fsyncdir /d 0", "chmod /d/new 493", "fsync /d/new 1", "write /d/new 3 def",
                    "fsync /d/new 0", "rename /d/new /d/moved"});
        // The file's own fsync shows nothing while its name is not synced; fdatasync leaves
        // the mode behind; the last rename is never synced.
        QCOMPARE(points(states), QList<int>({5, 9}));
        QCOMPARE(describe(states[0].Tree), QStringList({"d d 755 ", "d/new f 644 abc"}));
        QCOMPARE(describe(states[1].Tree), QStringList({"d d 755 ", "d/new f 755 abcdef"}));
        QCOMPARE(states[1].Operation, QStringLiteral("fsync /d/new 0"));
    }

    void pessimisticNeedsEveryFolderOnTheWaySynced()
    {
        const std::vector<TCrashState> states = replay(
            EModel::Pessimistic, {"mkdir /d/sub 493", "create /d/sub/f 420", "write /d/sub/f 0 x",
                                  "fsync /d/sub/f 0", "fsyncdir /d/sub 0", "fsyncdir /d 0"});
        QCOMPARE(points(states), QList<int>({6}));
        QCOMPARE(describe(states[0].Tree),
                 QStringList({"d d 755 ", "d/old f 644 old", "d/sub d 755 ", "d/sub/f f 644 x"}));
    }

    void ext4KeepsNamesInOrderAndDataOnlyWhenSynced()
    {
        const std::vector<TCrashState> states = replay(
            EModel::Ext4, {"create /d/new 420", "write /d/new 0 abc", "chmod /d/new 493",
                           "rename /d/new /d/moved", "fsync /d/moved 0", "truncate /d/old 1"});
        QCOMPARE(points(states), QList<int>({1, 3, 4, 5, 6}));
        QCOMPARE(describe(states[2].Tree),
                 QStringList({"d d 755 ", "d/moved f 755 ", "d/old f 644 old"}));
        QCOMPARE(describe(states[3].Tree),
                 QStringList({"d d 755 ", "d/moved f 755 abc", "d/old f 644 old"}));
        QCOMPARE(describe(states[4].Tree),
                 QStringList({"d d 755 ", "d/moved f 755 abc", "d/old f 644 o"}));
    }

    void ext4KeepsTheDataOfAFileRenamedOverAnother()
    {
        const std::vector<TCrashState> states =
            replay(EModel::Ext4, {"create /d/old.tmp 420", "write /d/old.tmp 0 new",
                                  "rename /d/old.tmp /d/old", "write /d/old 3 er"});
        QCOMPARE(points(states), QList<int>({1, 3}));
        QCOMPARE(describe(states[1].Tree), QStringList({"d d 755 ", "d/old f 644 new"}));
    }

    void identicalTreesAreOneState()
    {
        // Back to the initial tree, and twice the same tree: nothing new to check.
        const std::vector<TCrashState> states = replay(
            EModel::Ext4, {"create /d/x 420", "unlink /d/x", "create /d/x 420", "chmod /d/x 420"});
        QCOMPARE(points(states), QList<int>({1}));
    }

    void logThatDoesNotFitTheTreeIsAnError()
    {
        TCrashReplay replay = load({"write /d/missing 0 abc"});
        std::vector<TCrashState> states;
        QString error;
        QVERIFY(!replay.states(EModel::Pessimistic, states, error));
        QVERIFY2(error.contains("/d/missing"), qPrintable(error));
    }

    void finalTreeHasEveryChange()
    {
        TCrashReplay replay =
            load({"create /d/new 420", "write /d/new 0 abc", "write /d/new 5 z",
                  "symlink /d/link new", "link /d/new /d/hard", "rename /d/old /d/older"});
        TTree tree;
        QString error;
        QVERIFY2(replay.finalTree(tree, error), qPrintable(error));
        QCOMPARE(describe(tree), QStringList({"d d 755 ", "d/hard f 644 abc..z", "d/link l 777 new",
                                              "d/new f 644 abc..z", "d/older f 644 old"}));
    }

    void treeIsWrittenAndReadBack()
    {
        TTree tree = initialTree();
        tree.insert("d/run", entry('f', "#!/bin/sh\n", 0755));
        tree.insert("d/link", entry('l', "run", 0777));
        tree.insert("d/a b", entry('d', {}, 0700));
        QTemporaryDir folder;
        QString error;
        QVERIFY2(powerloss::writeTree(tree, folder.filePath("tree"), error), qPrintable(error));
        TTree read;
        QVERIFY2(powerloss::readTree(folder.filePath("tree"), read, error), qPrintable(error));
        QCOMPARE(describe(read), describe(tree));
        QCOMPARE(powerloss::treeDifferences(tree, read), QStringList());
        read["d/run"].Mode = 0644;
        read.remove("d/old");
        QCOMPARE(powerloss::treeDifferences(tree, read),
                 QStringList({"d/old is missing", "d/run has mode 644, 755 expected"}));
    }

private:
    // The log of the lines, written as the recording file system writes it: a write's bytes,
    // given here as its last field, go to the data file.
    TCrashReplay load(const QStringList& Lines)
    {
        QString log;
        QByteArray data;
        for (const QString& line : Lines) {
            QStringList fields = line.split(' ');
            if (fields.first() == "write") {
                const QByteArray bytes = fields.takeLast().toUtf8();
                fields << QString::number(bytes.size()) << QString::number(data.size());
                data += bytes;
            }
            log += fields.join('\t') + '\n';
        }
        const QString path = m_Folder.filePath("log");
        QFile logFile(path);
        QFile dataFile(path + ".data");
        TCrashReplay replay;
        QString error;
        const bool loaded =
            powerloss::writeTree(initialTree(), m_Folder.filePath("initial"), error) &&
            logFile.open(QIODevice::WriteOnly) && logFile.write(log.toUtf8()) &&
            dataFile.open(QIODevice::WriteOnly) && dataFile.write(data) >= 0;
        logFile.close();
        dataFile.close();
        if (!loaded || !replay.loadInitialTree(m_Folder.filePath("initial"), error) ||
            !replay.loadLog(path, error))
            qWarning() << "could not load the log:" << error;
        QDir(m_Folder.filePath("initial")).removeRecursively();
        return replay;
    }

    std::vector<TCrashState> replay(EModel Model, const QStringList& Lines)
    {
        std::vector<TCrashState> states;
        QString error;
        if (!load(Lines).states(Model, states, error))
            qWarning() << error;
        return states;
    }

    static QList<int> points(const std::vector<TCrashState>& States)
    {
        QList<int> points;
        for (const TCrashState& state : States)
            points << state.Point;
        return points;
    }

    QTemporaryDir m_Folder;
};

QTEST_GUILESS_MAIN(TestCrashStates)
#include "tst_crashstates.moc"
