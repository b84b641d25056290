// Putting the launcher's directory back after a failed self-update, whatever step each file had
// reached, and clearing what an interrupted update left without touching the player's files.
#include "launcher/selfupdate/launcherdirectorysnapshot.h"
#include "launcher/selfupdate/oldversion.h"
#include "shared/filesystemhelper/filereplacement.h"
#include "shared/filesystemhelper/filesystemhelper.h"

#include "testfiles.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using namespace orvik::launcher;
using testsupport::filesBelow;
using testsupport::readBytes;
using testsupport::writeBytes;

namespace {

// How far the update got with the one file of the test.
enum EStep {
    Untouched,
    KeptAside,        // its ".old" made, the replacement not yet written
    InterruptedWrite, // kept aside, the replacement half written under its temporary name
    Replaced,         // the new file renamed into place
    Deleted,          // moved aside because the new version no longer has it
    Created,          // a file the old version did not have
};

} // namespace

class TestLauncherDirectorySnapshot : public QObject
{
    Q_OBJECT

private slots:
    void restorePutsBackEveryFile_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<bool>("existedBefore");
        QTest::addColumn<bool>("markersBefore");
        // A file not replaced yet and its ".old" are two links of one file: a rename between
        // them does nothing and left the ".old" behind.
        QTest::newRow("kept aside") << int(KeptAside) << true << true;
        QTest::newRow("interrupted write") << int(InterruptedWrite) << true << true;
        QTest::newRow("replaced") << int(Replaced) << true << true;
        QTest::newRow("replaced, no markers before") << int(Replaced) << true << false;
        QTest::newRow("deleted") << int(Deleted) << true << true;
        QTest::newRow("created") << int(Created) << false << true;
        QTest::newRow("created, no markers before") << int(Created) << false << false;
        QTest::newRow("untouched") << int(Untouched) << true << true;
    }
    void restorePutsBackEveryFile()
    {
        QFETCH(int, step);
        QFETCH(bool, existedBefore);
        QFETCH(bool, markersBefore);
        QTemporaryDir directory;
        const QString file = directory.filePath("bin/launcher");
        const QString fullMarker = directory.filePath("package.json");
        const QString partialMarker = directory.filePath("partial-package.json");
        if (existedBefore) {
            QVERIFY(writeBytes(file, "old launcher"));
            QVERIFY(QFile::setPermissions(file, QFile::permissions(file) | QFile::ExeOwner));
        }
        if (markersBefore)
            QVERIFY(writeBytes(fullMarker, "old document"));
        QVERIFY(writeBytes(directory.filePath("notes.old"), "the player's"));
        const QMap<QString, QByteArray> before = filesBelow(directory.path());

        ::shared::TFileSystemHelper fileSystem;
        const TLauncherDirectorySnapshot snapshot(fileSystem, {file}, {partialMarker, fullMarker});
        // What the installation does to its markers at its start and end.
        if (markersBefore)
            QVERIFY(QFile::rename(fullMarker, partialMarker));
        else
            QVERIFY(writeBytes(partialMarker, "new document"));
        switch (EStep(step)) {
        case KeptAside:
            keepOldVersion(file);
            break;
        case InterruptedWrite:
            keepOldVersion(file);
            QVERIFY(writeBytes(::shared::createReplacementFile(file, QFileDevice::ReadOwner |
                                                                         QFileDevice::WriteOwner),
                               "new la"));
            break;
        case Replaced:
            keepOldVersion(file);
            ::shared::replaceFileAtomically(file, "new launcher");
            QVERIFY(writeBytes(fullMarker, "new document"));
            QVERIFY(QFile::remove(partialMarker));
            break;
        case Deleted:
            moveAsideAsOldVersion(file);
            QVERIFY(!QFileInfo::exists(file));
            break;
        case Created:
            QVERIFY(QDir().mkpath(directory.filePath("bin")));
            ::shared::replaceFileAtomically(file, "new launcher");
            break;
        case Untouched:
            break;
        }

        snapshot.restore();
        QCOMPARE(filesBelow(directory.path()), before);
        if (existedBefore)
            QVERIFY(QFileInfo(file).isExecutable());
    }

    void leftOversOfAnInterruptedUpdateGoAndNothingElse()
    {
        QTemporaryDir directory;
        const QString file = directory.filePath("launcher");
        const QString marker = directory.filePath("package.json");
        QVERIFY(writeBytes(file, "launcher"));
        QVERIFY(writeBytes(file + ".old", "the version before"));
        QVERIFY(writeBytes(file + ".tmp-a1B2c3", "half a launcher"));
        QVERIFY(writeBytes(marker + ".tmp-Zz9yX8", "half a marker"));
        // The player's own files, beside the launcher in a folder of theirs.
        const QStringList kept = {"notes.old", "launcher.tmp-abc", "Launcher.old",
                                  "other.tmp-a1B2c3", "launcher.old.txt"};
        for (const QString& name : kept)
            QVERIFY(writeBytes(directory.filePath(name), name.toUtf8()));

        ::shared::TFileSystemHelper fileSystem;
        TLauncherDirectorySnapshot(fileSystem, {file}, {marker}).removeLeftOvers();

        QStringList expected = kept;
        expected << "launcher";
        expected.sort();
        QCOMPARE(QDir(directory.path()).entryList(QDir::Files, QDir::Name), expected);
    }
};

QTEST_GUILESS_MAIN(TestLauncherDirectorySnapshot)
#include "tst_launcherdirectorysnapshot.moc"
