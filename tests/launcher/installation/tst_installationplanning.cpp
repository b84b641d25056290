#include "installationfixture.h"

#include "launcher/installation/chunkmatcher.h"

#include <QDirIterator>
#include <QFutureWatcher>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtConcurrent>
#include <QtTest>

#include <map>

#include <sys/stat.h>

using namespace installationfixture;
using orvik::launcher::EChunkReuseState;
using orvik::launcher::TChunkInPackage;
using orvik::launcher::TChunkMatcher;
using orvik::launcher::TFileToDownload;
using orvik::launcher::TPackageConfigurationReader;
using orvik::launcher::TPackageDifference;
using orvik::launcher::TPackageInstallation;
using testsupport::readBytes;
using testsupport::writeBytes;

namespace {

struct TPlan
{
    TPackageDifference Difference;
    std::vector<std::pair<TFileSize, TFileSize>> Progress;
};

const TFileToDownload* findFile(const TPlan& plan, const QString& localPath)
{
    for (const TFileToDownload& file : plan.Difference.m_FilesToDownload)
        if (file.LocalPath == localPath)
            return &file;
    return nullptr;
}

QByteArray concatenated(const std::vector<QByteArray>& chunks)
{
    QByteArray all;
    for (const QByteArray& chunk : chunks)
        all += chunk;
    return all;
}

} // namespace

class TestInstallationPlanning : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_Content = pseudoRandom(1, int(40 * MiB));
        m_Chunks = cutIntoChunks(m_Content);
        // The swap and insertion cases need several chunks that end at a natural boundary.
        QCOMPARE(int(m_Chunks.size()), 6);
    }

    void init()
    {
        m_pRoot = std::make_unique<QTemporaryDir>();
        QVERIFY(m_pRoot->isValid());
        m_Installation = m_pRoot->path() + QStringLiteral("/a/b/inst");
        QVERIFY(QDir().mkpath(m_Installation));
        QVERIFY(QDir().mkpath(m_pRoot->path() + QStringLiteral("/app")));
        m_pHelper = helperWithSettings(m_pRoot->path() + QStringLiteral("/app"), false);
    }

    void obsoleteFilesAreDeletedAndUnlistedFilesKept()
    {
        TDocument installed;
        installed.addWholeFile(QStringLiteral("keep.dat"), "keep");
        installed.addWholeFile(QStringLiteral("old.dat"), "old");
        // Paths compare case-sensitively: this is not keep2.dat.
        installed.addWholeFile(QStringLiteral("Keep2.dat"), "k2");
        TDocument remote;
        remote.addWholeFile(QStringLiteral("keep.dat"), "keep");
        remote.addWholeFile(QStringLiteral("keep2.dat"), "k2");
        QVERIFY(writeBytes(inside("keep.dat"), "keep"));
        QVERIFY(writeBytes(inside("stray.dat"), "stray"));

        const TPlan plan = run(remote, installed, false);
        QVERIFY(plan.Difference.m_ErrorMessage.isEmpty());
        QStringList deleted;
        for (const auto& file : plan.Difference.m_FilesToDelete)
            deleted << file.LocalFile;
        QCOMPARE(deleted, QStringList({"Keep2.dat", "old.dat"}));
        QCOMPARE(int(plan.Difference.m_FilesToDownload.size()), 1);
        QVERIFY(findFile(plan, QStringLiteral("keep2.dat")));
        QCOMPARE(readBytes(inside("stray.dat")), QByteArray("stray"));
        QCOMPARE(readBytes(inside("keep.dat")), QByteArray("keep"));
    }

    void wholeFileCheck_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QByteArray>("onDisk");
        QTest::addColumn<bool>("fetched");
        const QByteArray wanted = pseudoRandom(2, 100000);
        QByteArray flipped = wanted;
        flipped[50000] = char(flipped[50000] ^ 1);
        QTest::newRow("identical file is kept") << true << wanted << false;
        QTest::newRow("one changed byte") << true << flipped << true;
        QTest::newRow("missing file") << false << QByteArray() << true;
        QTest::newRow("one byte too many") << true << wanted + "x" << true;
    }
    void wholeFileCheck()
    {
        QFETCH(bool, present);
        QFETCH(QByteArray, onDisk);
        QFETCH(bool, fetched);
        const QByteArray wanted = pseudoRandom(2, 100000);
        TDocument remote;
        remote.addWholeFile(QStringLiteral("f.bin"), wanted);
        if (present)
            QVERIFY(writeBytes(inside("f.bin"), onDisk));

        const TPlan plan = run(remote, TDocument(), false);
        const TFileToDownload* file = findFile(plan, QStringLiteral("f.bin"));
        QCOMPARE(file != nullptr, fetched);
        if (!fetched) {
            QCOMPARE(readBytes(inside("f.bin")), wanted);
            return;
        }
        // A file that differs is fetched through its own download entry; planning leaves the old
        // one in place, or a refused installation would have lost it already.
        QCOMPARE(readBytes(inside("f.bin")), onDisk);
        QCOMPARE(int(file->Chunks.size()), 1);
        QCOMPARE(file->Chunks[0].Url.toString(), QStringLiteral("http://cdn.test/whole/f.bin"));
        QCOMPARE(file->Positions, std::vector<int>{0});
        QCOMPARE(file->Hash, shared::sha256(wanted));
        QCOMPARE(file->Size, TFileSize(wanted.size()));
    }

    // Old content shifted by bytes inserted into the first chunk: every later chunk is found one
    // insertion further on, moved back into place, and the file is cut to the new length.
    void insertedBytesNearTheStart()
    {
        const QByteArray local = m_Content.left(5000) + pseudoRandom(3, 1000) + m_Content.mid(5000);
        QVERIFY(writeBytes(inside("big.bin"), local));
        TDocument remote;
        remote.addChunkedFile(QStringLiteral("big.bin"), m_Chunks);

        const TPlan plan = run(remote, TDocument(), false);
        const TFileToDownload* file = findFile(plan, QStringLiteral("big.bin"));
        QVERIFY(file);
        QCOMPARE(file->Positions, std::vector<int>{0});
        QCOMPARE(int(file->Chunks.size()), 6);
        const QByteArray result = readBytes(inside("big.bin"));
        QCOMPARE(result.size(), m_Content.size());
        const int firstChunk = m_Chunks[0].size();
        QVERIFY(result.mid(firstChunk) == m_Content.mid(firstChunk));
        QCOMPARE(QDir(m_Installation).entryList(QDir::Files), QStringList{"big.bin"});
        // Every byte read counts once, so the scan ends at its total.
        QVERIFY(!plan.Progress.empty());
        QCOMPARE(plan.Progress.back().first, TFileSize(local.size()));
        QCOMPARE(plan.Progress.back().second, TFileSize(local.size()));
    }

    // Moving the first chunk into place overwrites the old place of the second: without saving
    // it first, the second chunk would be copied from bytes already overwritten.
    void overlappingMovesGoThroughTheTemporaryFile()
    {
        std::vector<QByteArray> swapped = m_Chunks;
        std::swap(swapped[0], swapped[1]);
        QVERIFY(writeBytes(inside("big.bin"), concatenated(swapped)));
        TDocument remote;
        remote.addChunkedFile(QStringLiteral("big.bin"), m_Chunks);

        const TPlan plan = run(remote, TDocument(), false);
        QVERIFY(plan.Difference.m_ErrorMessage.isEmpty());
        // Complete after the moves: nothing to fetch, so the file is not listed.
        QVERIFY(!findFile(plan, QStringLiteral("big.bin")));
        QVERIFY(readBytes(inside("big.bin")) == m_Content);
        QCOMPARE(QDir(m_Installation).entryList(QDir::Files), QStringList{"big.bin"});
    }

    // With fast scan a file the installed configuration lists with its chunks is trusted and not
    // read; a file it does not list is still read.
    void fastScanTrustsTheInstalledChunkList()
    {
        QVERIFY(writeBytes(inside("listed.bin"), QByteArray(m_Content.size(), '\0')));
        const QByteArray shifted = pseudoRandom(3, 1000) + m_Content;
        QVERIFY(writeBytes(inside("unlisted.bin"), shifted));
        TDocument remote;
        remote.addChunkedFile(QStringLiteral("listed.bin"), m_Chunks);
        remote.addChunkedFile(QStringLiteral("unlisted.bin"), m_Chunks);
        TDocument installed;
        installed.addChunkedFile(QStringLiteral("listed.bin"), m_Chunks);

        const TPlan plan = run(remote, installed, true);
        QVERIFY(!findFile(plan, QStringLiteral("listed.bin")));
        QVERIFY(readBytes(inside("listed.bin")) == QByteArray(m_Content.size(), '\0'));
        const TFileToDownload* unlisted = findFile(plan, QStringLiteral("unlisted.bin"));
        QVERIFY(unlisted);
        QCOMPARE(unlisted->Positions, std::vector<int>{0});

        // Without fast scan the zeros are read and nothing in them is reusable.
        const TPlan full = run(remote, installed, false);
        const TFileToDownload* listed = findFile(full, QStringLiteral("listed.bin"));
        QVERIFY(listed);
        QCOMPARE(int(listed->Positions.size()), 6);
    }

    // A document path that climbs out of the installation or is absolute must not make the
    // planning delete, rewrite or list for deletion anything outside it.
    void documentPathsStayInsideTheInstallation_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::newRow("climbing") << QStringLiteral("../../");
        QTest::newRow("absolute") << QStringLiteral("%ROOT%/a/");
    }
    void documentPathsStayInsideTheInstallation()
    {
        QFETCH(QString, prefix);
        prefix.replace(QStringLiteral("%ROOT%"), m_pRoot->path());
        const QString outside = m_pRoot->path() + QStringLiteral("/a/");
        std::vector<QByteArray> swapped = m_Chunks;
        std::swap(swapped[0], swapped[1]);
        const QByteArray swappedContent = concatenated(swapped);
        QVERIFY(writeBytes(outside + "whole.bin", "outside"));
        QVERIFY(writeBytes(outside + "chunked.bin", swappedContent));
        QVERIFY(writeBytes(outside + "gone.bin", "outside"));

        TDocument remote;
        remote.addWholeFile(prefix + "whole.bin", "wanted");
        remote.addChunkedFile(prefix + "chunked.bin", m_Chunks);
        TDocument installed;
        installed.addWholeFile(prefix + "gone.bin", "old");

        const TPlan plan = run(remote, installed, false);
        QVERIFY(plan.Difference.m_ErrorMessage.isEmpty());
        QCOMPARE(readBytes(outside + "whole.bin"), QByteArray("outside"));
        QVERIFY(readBytes(outside + "chunked.bin") == swappedContent);
        QCOMPARE(readBytes(outside + "gone.bin"), QByteArray("outside"));
        QCOMPARE(int(plan.Difference.m_FilesToDelete.size()), 1);
        const QString deleted = plan.Difference.m_FilesToDelete[0].LocalFile;
        const QString target = QDir::cleanPath(QDir(m_Installation).filePath(deleted));
        QVERIFY2(target.startsWith(m_Installation + QLatin1Char('/')), qPrintable(target));
    }

    // A document that cannot be planned fails as a whole before any file is touched.
    void unusableDocumentFailsWithoutTouchingFiles_data()
    {
        QTest::addColumn<QJsonArray>("indexes");
        QTest::addColumn<QString>("secondPath");
        QTest::newRow("chunk index out of range") << QJsonArray{0, 7} << QStringLiteral("b.bin");
        QTest::newRow("negative chunk index") << QJsonArray{0, -1} << QStringLiteral("b.bin");
        QTest::newRow("same file under two names")
            << QJsonArray{0, 0} << QStringLiteral("x/../a.bin");
        // Writing c.bin would remove the folder c.bin with the part planned inside it.
        QTest::newRow("file that is also a folder")
            << QJsonArray{0, 0} << QStringLiteral("c.bin/part");
    }
    void unusableDocumentFailsWithoutTouchingFiles()
    {
        QFETCH(QJsonArray, indexes);
        QFETCH(QString, secondPath);
        TDocument remote;
        remote.addWholeFile(QStringLiteral("a.bin"), "wanted");
        remote.addChunkedFile(QStringLiteral("c.bin"), {m_Chunks[0]});
        remote.addFileWithIndexes(secondPath, "content", indexes);
        TDocument installed;
        installed.addWholeFile(QStringLiteral("old.bin"), "old");
        QVERIFY(writeBytes(inside("a.bin"), "different"));

        const TPlan plan = run(remote, installed, false);
        QVERIFY(!plan.Difference.m_ErrorMessage.isEmpty());
        QVERIFY(plan.Difference.m_FilesToDownload.empty());
        QVERIFY(plan.Difference.m_FilesToDelete.empty());
        QCOMPARE(readBytes(inside("a.bin")), QByteArray("different"));
    }

    // An entry that names no file strictly inside the installation resolves to the installation
    // or a folder: planning it deleted the package directory with the player's files, or
    // replaced a folder by a file. The plan must fail before anything is touched and end the
    // download phase as failed. The first rows are refused by the reader already; the last ones
    // read fine and climb back onto the installation directory itself.
    void entriesNamingNoFileFailThePlanning_data()
    {
        QTest::addColumn<QJsonObject>("entry");
        const auto path = [](const QJsonValue& value) {
            return QJsonObject{{QStringLiteral("localfile"), value},
                               {QStringLiteral("url"), QStringLiteral("whole/x")}};
        };
        QTest::newRow("empty path") << path(QString());
        QTest::newRow("dot") << path(QStringLiteral("."));
        QTest::newRow("climbs back to the installation") << path(QStringLiteral("dir/.."));
        QTest::newRow("folder with a dot") << path(QStringLiteral("screenshots/."));
        QTest::newRow("folder with a slash") << path(QStringLiteral("screenshots/"));
        QTest::newRow("number as path") << path(5);
        QTest::newRow("no path") << QJsonObject{{QStringLiteral("url"), QStringLiteral("whole/x")}};
        QTest::newRow("climbs onto the installation's name") << path(QStringLiteral("../inst"));
        QTest::newRow("climbs two levels onto it") << path(QStringLiteral("../../b/inst"));
    }
    void entriesNamingNoFileFailThePlanning()
    {
        QFETCH(QJsonObject, entry);
        TDocument remote;
        remote.addWholeFile(QStringLiteral("a.bin"), "wanted");
        remote.addEntry(entry);
        TDocument installed;
        installed.addWholeFile(QStringLiteral("old.bin"), "old");
        QVERIFY(writeBytes(inside("a.bin"), "different"));
        QVERIFY(writeBytes(inside("old.bin"), "old"));
        QVERIFY(writeBytes(inside("screenshots/shot.png"), "player's"));

        const auto installation = makeInstallation(m_pHelper, m_Installation);
        const TPlan plan = run(remote, installed, false);
        QVERIFY(!plan.Difference.m_ErrorMessage.isEmpty());
        QVERIFY(plan.Difference.m_FilesToDownload.empty());
        QVERIFY(plan.Difference.m_FilesToDelete.empty());

        QVERIFY(finishDownloadPhase(*installation, plan.Difference));
        QVERIFY(!installation->isWithoutError());
        QCOMPARE(readBytes(inside("a.bin")), QByteArray("different"));
        QCOMPARE(readBytes(inside("old.bin")), QByteArray("old"));
        QCOMPARE(readBytes(inside("screenshots/shot.png")), QByteArray("player's"));
    }

    // A path the document keeps short enough but the installation directory takes past the
    // system's limit failed only when written, as a saving failure that sent the player to free
    // disk space.
    void pathTooLongInTheInstallationFailsThePlanning()
    {
        const int length = 4100 - int(QFile::encodeName(m_Installation).size()) - 1;
        QString relative;
        while (relative.size() + 101 < length)
            relative += QString(100, QLatin1Char('d')) + QLatin1Char('/');
        relative += QString(length - relative.size(), QLatin1Char('x'));
        TDocument remote;
        remote.addWholeFile(relative, "wanted");

        const TPlan plan = run(remote, TDocument(), false);
        QVERIFY2(plan.Difference.m_ErrorMessage.contains("longer than a file system allows"),
                 qPrintable(plan.Difference.m_ErrorMessage));
        QVERIFY(plan.Difference.m_FilesToDownload.empty());
    }

    // Planning guards on its own, whatever reader handed it the list: an entry that names the
    // installation or a folder was planned as a file to fetch in place of the folder.
    void planningRefusesEntriesNamingNoFile_data()
    {
        QTest::addColumn<QString>("localFile");
        QTest::newRow("empty path") << QString();
        QTest::newRow("dot") << QStringLiteral(".");
        QTest::newRow("climbs back to the installation") << QStringLiteral("dir/..");
        QTest::newRow("folder with a dot") << QStringLiteral("screenshots/.");
    }
    void planningRefusesEntriesNamingNoFile()
    {
        QFETCH(QString, localFile);
        QVERIFY(writeBytes(inside("screenshots/shot.png"), "player's"));
        orvik::launcher::TFileInPackage file;
        file.LocalFile = localFile;
        file.WholeFile.Url = QUrl(QStringLiteral("http://cdn.test/whole/x"));
        const auto installation = makeInstallation(m_pHelper, m_Installation);
        QVERIFY_EXCEPTION_THROWN(installation->FindFilesInPackageBasedOnHashAndSizeThatNeedUpdate(
                                     {file}, {}, {}, {}, false, QDir(m_Installation), m_pHelper),
                                 std::runtime_error);
        QCOMPARE(readBytes(inside("screenshots/shot.png")), QByteArray("player's"));
    }

    // Deleting what the old document listed removed folders with their whole tree, also when
    // the folder holds files the new document keeps: an old entry naming the folder ("bin/."),
    // or an old file that has become the folder of new files. Rows the reader refuses leave the
    // old document unused, so nothing at all is deleted for them.
    void deletionKeepsFoldersOfWantedFiles_data()
    {
        QTest::addColumn<QString>("oldEntry");
        QTest::addColumn<bool>("obsoleteDeleted");
        QTest::newRow("old file is now a folder of kept files") << QStringLiteral("data") << true;
        QTest::newRow("climbs onto a folder of kept files")
            << QStringLiteral("../inst/data") << true;
        QTest::newRow("kept file spelled with a dot segment")
            << QStringLiteral("bin/./x.bin") << true;
        QTest::newRow("names the folder with a dot") << QStringLiteral("bin/.") << false;
        QTest::newRow("climbs back to the folder") << QStringLiteral("bin/sub/..") << false;
        QTest::newRow("folder with a slash") << QStringLiteral("bin/") << false;
    }
    void deletionKeepsFoldersOfWantedFiles()
    {
        QFETCH(QString, oldEntry);
        QFETCH(bool, obsoleteDeleted);
        TDocument remote;
        remote.addWholeFile(QStringLiteral("bin/x.bin"), "x");
        remote.addWholeFile(QStringLiteral("data/y.bin"), "y");
        TDocument installed;
        installed.addWholeFile(oldEntry, "old entry");
        installed.addWholeFile(QStringLiteral("old.bin"), "old");
        QVERIFY(writeBytes(inside("bin/x.bin"), "x"));
        QVERIFY(writeBytes(inside("data/y.bin"), "y"));
        QVERIFY(writeBytes(inside("old.bin"), "old"));

        const auto installation = makeInstallation(m_pHelper, m_Installation);
        const TPlan plan = run(remote, installed, false);
        QVERIFY(plan.Difference.m_ErrorMessage.isEmpty());
        QVERIFY(plan.Difference.m_FilesToDownload.empty()); // both files are in place
        QVERIFY(finishDownloadPhase(*installation, plan.Difference));
        QVERIFY(installation->isWithoutError());

        QCOMPARE(readBytes(inside("bin/x.bin")), QByteArray("x"));
        QCOMPARE(readBytes(inside("data/y.bin")), QByteArray("y"));
        QCOMPARE(QFileInfo::exists(inside("old.bin")), !obsoleteDeleted);
    }

    // The deletions run on the downloads' thread: a file that could not be removed there was
    // neither reported nor kept from ending the process.
    void failedDeletionIsReportedAndNothingIsFetched()
    {
        struct TPolicyThatCannotRemove : orvik::launcher::TInstallationPolicy
        {
            void removeFile(::shared::TFileSystemHelper&, const QString& Path) const override
            {
                throw std::runtime_error("Failed to delete file " + Path.toStdString());
            }
        };
        TDocument remote;
        remote.addWholeFile(QStringLiteral("a.bin"), "wanted");
        TDocument installed;
        installed.addWholeFile(QStringLiteral("old.bin"), "old");
        QVERIFY(writeBytes(inside("old.bin"), "old"));
        const auto installation = makeInstallation(m_pHelper, m_Installation);
        installation->setPolicy(std::make_shared<const TPolicyThatCannotRemove>());
        const TPlan plan = run(remote, installed, false);
        QCOMPARE(plan.Difference.m_FilesToDelete.size(), size_t(1));

        QSignalSpy failed(installation.get(), &TPackageInstallation::diskAccessFailed);
        QSignalSpy finished(installation.get(), &TPackageInstallation::downloadFinished);
        installation->onRequiredChangesComputedForInstallation(plan.Difference);
        QVERIFY(failed.wait(60000));
        QVERIFY2(failed.at(0).at(0).toString().contains(QStringLiteral("old.bin")),
                 qPrintable(failed.at(0).at(0).toString()));
        QCOMPARE(finished.count(), 0);
        QVERIFY(!QFileInfo::exists(inside("a.bin")));
    }

    // Files of the old and the new document spelled "path=pieces": digits are the natural chunks
    // of the test content, 'n' a chunk no installed file holds, 's' and 't' small contents; one
    // piece makes a file downloaded whole. The old document's files are on disk, except that
    // "corrupt" names one with a byte changed in its first chunk. "fetched" lists per new file the
    // positions still to download.
    void chunksAreReusedAcrossFiles_data()
    {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QStringList>("remote");
        QTest::addColumn<QString>("corrupt");
        QTest::addColumn<QStringList>("fetched");
        // Catches reuse that looks only at the file of the same path.
        QTest::newRow("renamed file")
            << QStringList{"a/x.bin=012345"} << QStringList{"b/x.bin=012345"} << QString()
            << QStringList{"b/x.bin="};
        QTest::newRow("renamed folder")
            << QStringList{"karts/konqi/k.bin=0123", "karts/konqi/s.txt=s", "karts/konqi/t.txt=t"}
            << QStringList{"karts/konqi_v2/k.bin=0123", "karts/konqi_v2/s.txt=s",
                           "karts/konqi_v2/t.txt=t"}
            << QString()
            << QStringList{
                   "karts/konqi_v2/k.bin=", "karts/konqi_v2/s.txt=", "karts/konqi_v2/t.txt="};
        // Catches a piece looked for only among whole files, or only among chunks.
        QTest::newRow("content duplicated across files")
            << QStringList{"a.bin=012345", "s.txt=s"}
            << QStringList{"a.bin=012345", "c.bin=23n", "d.bin=4", "e.bin=s5"} << QString()
            << QStringList{"a.bin=", "c.bin=2", "d.bin=", "e.bin="};
        // Catches pieces read after the planning moved the chunks of their file (the bytes
        // found there then differ and are fetched).
        QTest::newRow("source rearranged by the same update")
            << QStringList{"a.bin=012345"} << QStringList{"a.bin=102345", "b.bin=01"} << QString()
            << QStringList{"a.bin=", "b.bin="};
        QTest::newRow("source cut short by the same update")
            << QStringList{"a.bin=012345"} << QStringList{"a.bin=01", "b.bin=45"} << QString()
            << QStringList{"a.bin=", "b.bin="};
        QTest::newRow("source deleted by the same update")
            << QStringList{"old.bin=012345"} << QStringList{"x.bin=012", "y.bin=345"} << QString()
            << QStringList{"x.bin=", "y.bin="};
        // Catches a target written before the other target has read its bytes.
        QTest::newRow("two files swap their names")
            << QStringList{"a.txt=s", "b.txt=t"} << QStringList{"a.txt=t", "b.txt=s"} << QString()
            << QStringList{"a.txt=", "b.txt="};
        // Catches other files' pieces written before the file's own chunks were moved.
        QTest::newRow("own chunks moved and other files' chunks added")
            << QStringList{"a.bin=012", "b.bin=345"} << QStringList{"a.bin=5102", "b.bin=345"}
            << QString() << QStringList{"a.bin=", "b.bin="};
        // Catches a reused piece written without its digest checked.
        QTest::newRow("corrupt chunk in the source is fetched")
            << QStringList{"a.bin=012345"} << QStringList{"b.bin=012345"} << QStringLiteral("a.bin")
            << QStringList{"b.bin=0"};
        QTest::newRow("corrupt small source is fetched")
            << QStringList{"s.txt=s"} << QStringList{"r.txt=s"} << QStringLiteral("s.txt")
            << QStringList{"r.txt=0"};
    }
    void chunksAreReusedAcrossFiles()
    {
        QFETCH(QStringList, installed);
        QFETCH(QStringList, remote);
        QFETCH(QString, corrupt);
        QFETCH(QStringList, fetched);
        TDocument installedDocument;
        for (const QString& spec : installed) {
            const auto [path, pieces] = describeFile(installedDocument, spec);
            QVERIFY(writeBytes(inside(path), concatenated(pieces)));
        }
        if (!corrupt.isEmpty()) {
            QByteArray bytes = readBytes(inside(corrupt));
            bytes[1000] = char(bytes[1000] ^ 1);
            QVERIFY(writeBytes(inside(corrupt), bytes));
        }
        TDocument remoteDocument;
        std::map<QString, std::vector<QByteArray>> wanted;
        for (const QString& spec : remote)
            wanted.insert(describeFile(remoteDocument, spec));

        const TPlan plan = run(remoteDocument, installedDocument, false);
        QVERIFY(plan.Difference.m_ErrorMessage.isEmpty());
        QStringList actual;
        for (const auto& [path, pieces] : wanted) {
            const TFileToDownload* file = findFile(plan, path);
            QStringList positions;
            for (const int position : file ? file->Positions : std::vector<int>())
                positions << QString::number(position);
            actual << path + QLatin1Char('=') + positions.join(QLatin1Char(','));
            // Every piece not fetched is in place already.
            const QByteArray onDisk = readBytes(inside(path));
            int offset = 0;
            for (size_t i = 0; i < pieces.size(); ++i) {
                if (!positions.contains(QString::number(i)))
                    QVERIFY2(onDisk.mid(offset, pieces[i].size()) == pieces[i],
                             qPrintable(QStringLiteral("%1 piece %2").arg(path).arg(i)));
                offset += pieces[i].size();
            }
        }
        QCOMPARE(actual, fetched);
        QDirIterator it(m_Installation, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            QVERIFY2(!it.next().contains(QStringLiteral(".reuse-")), qPrintable(it.filePath()));
    }

    // A FIFO where a file was: opened for reading, as the file itself or as the source of another
    // file's pieces, it held the planning for good, and the launcher could not end. It is fetched
    // whole unread; the download replaces it. Files as in chunksAreReusedAcrossFiles, none on
    // disk.
    void fifoIsNeverRead_data()
    {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QStringList>("remote");
        QTest::addColumn<QString>("fetched");
        QTest::newRow("whole file")
            << QStringList{} << QStringList{"f.bin=s"} << QString("f.bin=0");
        QTest::newRow("chunked file")
            << QStringList{} << QStringList{"f.bin=012"} << QString("f.bin=0,1,2");
        QTest::newRow("source of another file")
            << QStringList{"f.bin=s"} << QStringList{"g.bin=s"} << QString("g.bin=0");
    }
    void fifoIsNeverRead()
    {
        QFETCH(QStringList, installed);
        QFETCH(QStringList, remote);
        QFETCH(QString, fetched);
        QCOMPARE(::mkfifo(QFile::encodeName(inside("f.bin")).constData(), 0644), 0);
        TDocument installedDocument;
        for (const QString& spec : installed)
            describeFile(installedDocument, spec);
        TDocument remoteDocument;
        for (const QString& spec : remote)
            describeFile(remoteDocument, spec);

        const TPlan plan = run(remoteDocument, installedDocument, false);
        QVERIFY2(plan.Difference.m_ErrorMessage.isEmpty(),
                 qPrintable(plan.Difference.m_ErrorMessage));
        const TFileToDownload* file = findFile(plan, fetched.section('=', 0, 0));
        QVERIFY(file);
        QStringList positions;
        for (const int position : file->Positions)
            positions << QString::number(position);
        QCOMPARE(positions.join(','), fetched.section('=', 1));
    }

    // The deletions of an update leave folders that only held listed files empty; those go, the
    // installation and anything holding the player's files stay.
    void foldersLeftEmptyAreRemoved_data()
    {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QStringList>("remote");
        QTest::addColumn<QStringList>("playersOwn");
        QTest::addColumn<QStringList>("gone");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("renamed folder")
            << QStringList{"karts/konqi/a.txt", "karts/konqi/b.txt", "karts/tux/c.txt"}
            << QStringList{"karts/konqi_v2/a.txt", "karts/konqi_v2/b.txt", "karts/tux/c.txt"}
            << QStringList() << QStringList{"karts/konqi"}
            << QStringList{"karts", "karts/konqi_v2", "karts/tux"};
        // Catches a parent tried before its emptied subfolders went.
        QTest::newRow("nested folders emptied")
            << QStringList{"a/y.txt", "a/b/c/x.txt", "a/d/z.txt"} << QStringList{"top.txt"}
            << QStringList() << QStringList{"a/b/c", "a/b", "a/d", "a"} << QStringList();
        QTest::newRow("player's file keeps its folder")
            << QStringList{"shots/old.txt", "shots/deep/old.txt"} << QStringList{"top.txt"}
            << QStringList{"shots/mine.png", "shots/deep/.hidden"} << QStringList()
            << QStringList{"shots", "shots/deep"};
        QTest::newRow("files at the top") << QStringList{"old.txt"} << QStringList{"top.txt"}
                                          << QStringList() << QStringList() << QStringList();
    }
    void foldersLeftEmptyAreRemoved()
    {
        QFETCH(QStringList, installed);
        QFETCH(QStringList, remote);
        QFETCH(QStringList, playersOwn);
        QFETCH(QStringList, gone);
        QFETCH(QStringList, kept);
        TDocument installedDocument;
        for (const QString& path : installed) {
            installedDocument.addWholeFile(path, path.toUtf8());
            QVERIFY(writeBytes(inside(path), path.toUtf8()));
        }
        TDocument remoteDocument;
        for (const QString& path : remote) {
            remoteDocument.addWholeFile(path, path.toUtf8() + "2");
            QVERIFY(writeBytes(inside(path), path.toUtf8() + "2"));
        }
        for (const QString& path : playersOwn)
            QVERIFY(writeBytes(inside(path), "player's"));

        const auto installation = makeInstallation(m_pHelper, m_Installation);
        const TPlan plan = run(remoteDocument, installedDocument, false);
        QVERIFY(plan.Difference.m_FilesToDownload.empty());
        QVERIFY(finishDownloadPhase(*installation, plan.Difference));
        QVERIFY(installation->isWithoutError());

        for (const QString& folder : gone)
            QVERIFY2(!QFileInfo::exists(inside(folder)), qPrintable(folder));
        for (const QString& folder : kept)
            QVERIFY2(QFileInfo(inside(folder)).isDir(), qPrintable(folder));
        for (const QString& path : playersOwn + remote)
            QVERIFY2(QFileInfo::exists(inside(path)), qPrintable(path));
        QVERIFY(QFileInfo(m_Installation).isDir());
    }

    // A link in the installation led writes and deletions wherever it points: a new file
    // "lnk/new.bin" landed in the folder beside the installation, an old "lnk/gone.bin" was
    // deleted there. Planning refuses the first and skips the second; the link itself is the
    // installation's to delete.
    void linksOutOfTheInstallationAreNotFollowed_data()
    {
        QTest::addColumn<QString>("newEntry");
        QTest::addColumn<QString>("oldEntry");
        QTest::addColumn<bool>("planFails");
        QTest::addColumn<bool>("linkKept");
        QTest::newRow("new file through the link") << "lnk/new.bin" << QString() << true << true;
        QTest::newRow("new file deeper through the link")
            << "lnk/sub/new.bin" << QString() << true << true;
        QTest::newRow("old file through the link") << QString() << "lnk/gone.bin" << false << true;
        QTest::newRow("old file climbing back through the link")
            << QString() << "lnk/../lnk/gone.bin" << false << true;
        QTest::newRow("old entry naming the link") << QString() << "lnk" << false << false;
    }
    void linksOutOfTheInstallationAreNotFollowed()
    {
        QFETCH(QString, newEntry);
        QFETCH(QString, oldEntry);
        QFETCH(bool, planFails);
        QFETCH(bool, linkKept);
        const QString outside = m_pRoot->path() + QStringLiteral("/outside");
        QVERIFY(writeBytes(outside + "/gone.bin", "beside"));
        QVERIFY(QDir().mkpath(outside + "/sub"));
        QVERIFY(QFile::link(outside, inside("lnk")));
        QVERIFY(writeBytes(inside("a.bin"), "wanted"));
        TDocument remote;
        remote.addWholeFile(QStringLiteral("a.bin"), "wanted");
        if (!newEntry.isEmpty())
            remote.addWholeFile(newEntry, "new");
        TDocument installed;
        if (!oldEntry.isEmpty())
            installed.addWholeFile(oldEntry, "old");

        const auto installation = makeInstallation(m_pHelper, m_Installation);
        const TPlan plan = run(remote, installed, false);
        QCOMPARE(!plan.Difference.m_ErrorMessage.isEmpty(), planFails);
        QVERIFY(finishDownloadPhase(*installation, plan.Difference));
        QCOMPARE(installation->isWithoutError(), !planFails);
        QCOMPARE(readBytes(outside + "/gone.bin"), QByteArray("beside"));
        QVERIFY(!QFileInfo::exists(outside + "/new.bin"));
        QVERIFY(!QFileInfo::exists(outside + "/sub/new.bin"));
        QCOMPARE(QFileInfo(inside("lnk")).isSymLink(), linkKept);
    }

    // A listed file that is a link to a file outside had its chunks moved in place, rewriting
    // the file the link points to. It is fetched whole instead, which replaces the link.
    void listedFileThatIsALinkIsNotRewritten()
    {
        std::vector<QByteArray> swapped = m_Chunks;
        std::swap(swapped[0], swapped[1]);
        const QByteArray swappedContent = concatenated(swapped);
        const QString outside = m_pRoot->path() + QStringLiteral("/outside.bin");
        QVERIFY(writeBytes(outside, swappedContent));
        QVERIFY(QFile::link(outside, inside("big.bin")));
        TDocument remote;
        remote.addChunkedFile(QStringLiteral("big.bin"), m_Chunks);

        const TPlan plan = run(remote, TDocument(), false);
        QVERIFY(plan.Difference.m_ErrorMessage.isEmpty());
        QVERIFY(readBytes(outside) == swappedContent);
        const TFileToDownload* file = findFile(plan, QStringLiteral("big.bin"));
        QVERIFY(file);
        QCOMPARE(file->Positions.size(), m_Chunks.size());
    }

    // Deleting an old file that is now a folder removed the folder with everything in it, the
    // player's own files included. Only folders that hold no file go.
    void deletionKeepsThePlayersFilesInAFolder_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<bool>("folderRemoved");
        QTest::newRow("player's file in it")
            << QStringList{"data/save.dat"} << QStringList{} << false;
        QTest::newRow("player's file further down")
            << QStringList{"data/sub/save.dat"} << QStringList{"data/empty"} << false;
        QTest::newRow("only empty folders")
            << QStringList{} << QStringList{"data/sub/deeper", "data/empty"} << true;
    }
    void deletionKeepsThePlayersFilesInAFolder()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, folders);
        QFETCH(bool, folderRemoved);
        for (const QString& file : files)
            QVERIFY(writeBytes(inside(qPrintable(file)), "player's"));
        for (const QString& folder : folders)
            QVERIFY(QDir().mkpath(inside(qPrintable(folder))));
        updateFromOldEntry(QStringLiteral("data"));
        if (QTest::currentTestFailed())
            return;
        for (const QString& file : files)
            QCOMPARE(readBytes(inside(qPrintable(file))), QByteArray("player's"));
        QCOMPARE(QFileInfo::exists(inside("data")), !folderRemoved);
    }

    // An old document listing a marker's name had the update delete the marker, and a new one
    // had the download write over it: the installation then recorded no state, or a state that
    // is no document. Such a new document is refused; such an old entry is not deleted.
    void markersAreNeverListedFiles_data()
    {
        QTest::addColumn<QString>("newEntry");
        QTest::addColumn<QString>("oldEntry");
        QTest::addColumn<bool>("planFails");
        QTest::newRow("new document lists the full marker") << "package.json" << QString() << true;
        QTest::newRow("new document lists the partial marker by a dot segment")
            << "./partial-package.json" << QString() << true;
        QTest::newRow("new document lists a marker's signature")
            << "package.json.sig" << QString() << true;
        QTest::newRow("new document lists the assets document")
            << "../inst/assets.json" << QString() << true;
        // Found by the document fuzzer: the full marker's place became a folder, and the
        // installation could never be recorded as complete.
        QTest::newRow("new document lists a file below the full marker")
            << "package.json/x" << QString() << true;
        QTest::newRow("old document lists the partial marker")
            << QString() << "partial-package.json" << false;
        QTest::newRow("old document lists the staged document")
            << QString() << "partial-package.json.tmp-remote" << false;
        QTest::newRow("a file of the same name in a folder is the game's")
            << "data/package.json" << QString() << false;
        // Found by the installation fuzzer: through a link to the installation's own folder an
        // entry reached a marker whatever its name.
        QTest::newRow("new document lists the full marker through a link")
            << "lnk/package.json" << QString() << true;
        QTest::newRow("old document lists the partial marker through a link")
            << QString() << "lnk/partial-package.json" << false;
    }
    void markersAreNeverListedFiles()
    {
        QFETCH(QString, newEntry);
        QFETCH(QString, oldEntry);
        QFETCH(bool, planFails);
        QVERIFY(QFile::link(".", inside("lnk")));
        const QStringList own{"package.json", "partial-package.json", "package.json.sig",
                              "assets.json", oldEntry};
        for (const QString& name : own)
            if (!name.isEmpty())
                QVERIFY(writeBytes(inside(qPrintable(name)), "marker"));
        QVERIFY(writeBytes(inside("a.bin"), "wanted"));
        TDocument remote;
        remote.addWholeFile(QStringLiteral("a.bin"), "wanted");
        if (!newEntry.isEmpty()) {
            remote.addWholeFile(newEntry, "marker");
            // Nothing can lie below a marker while the marker is a file.
            if (!newEntry.startsWith("package.json/"))
                QVERIFY(writeBytes(inside(qPrintable(newEntry)), "marker"));
        }
        TDocument installed;
        if (!oldEntry.isEmpty())
            installed.addWholeFile(oldEntry, "old");

        const auto installation = makeInstallation(m_pHelper, m_Installation);
        const TPlan plan = run(remote, installed, false);
        QCOMPARE(!plan.Difference.m_ErrorMessage.isEmpty(), planFails);
        QVERIFY(finishDownloadPhase(*installation, plan.Difference));
        QCOMPARE(installation->isWithoutError(), !planFails);
        for (const QString& name : own)
            if (!name.isEmpty())
                QCOMPARE(readBytes(inside(qPrintable(name))), QByteArray("marker"));
    }

    // An old entry that reached a wanted file through a link to the installation's own folder
    // had the update delete that file after planning had kept it.
    void oldEntryThroughALinkKeepsTheWantedFile()
    {
        QVERIFY(QFile::link(".", inside("lnk")));
        updateFromOldEntry(QStringLiteral("lnk/a.bin"));
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(readBytes(inside("a.bin")), QByteArray("wanted"));
    }

    // Local pieces named by letters, each 10 bytes long, against wanted chunks named the same
    // way. Result per wanted chunk: N (not found), C (at its place) or W<source offset>.
    void chunkMatching_data()
    {
        QTest::addColumn<QString>("wanted");
        QTest::addColumn<QString>("local");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("one local chunk marks equal wanted chunks")
            << "AAB"
            << "A" << QStringList{"C", "W0", "N"};
        QTest::newRow("first source is kept") << "AB"
                                              << "XAA" << QStringList{"W10", "N"};
        QTest::newRow("found later at its own place") << "AB"
                                                      << "BB" << QStringList{"N", "C"};
        QTest::newRow("nothing in common") << "AB"
                                           << "XY" << QStringList{"N", "N"};
    }
    void chunkMatching()
    {
        QFETCH(QString, wanted);
        QFETCH(QString, local);
        QFETCH(QStringList, expected);
        const auto hashOf = [](QChar letter) {
            return shared::sha256(QByteArray(10, char(letter.unicode())));
        };
        std::vector<TChunkInPackage> chunks;
        for (const QChar letter : wanted) {
            TChunkInPackage chunk;
            chunk.UnpackedSize = 10;
            chunk.UnpackedHash = hashOf(letter);
            chunks.push_back(chunk);
        }
        TChunkMatcher matcher(chunks, QStringLiteral("test"));
        for (const QChar letter : local)
            matcher.addLocalChunk(hashOf(letter), 10);
        QStringList states;
        for (const auto& record : matcher.records()) {
            if (record.State == EChunkReuseState::NotFound)
                states << "N";
            else if (record.State == EChunkReuseState::AtCorrectPosition)
                states << "C";
            else
                states << QStringLiteral("W%1").arg(record.SourceOffset);
        }
        QCOMPARE(states, expected);
        QCOMPARE(matcher.foundAnything(), expected != QStringList({"N", "N"}));
    }

private:
    QString inside(const char* name) const { return m_Installation + QLatin1Char('/') + name; }
    QString inside(const QString& Name) const { return m_Installation + QLatin1Char('/') + Name; }

    // Adds "path=pieces" (see chunksAreReusedAcrossFiles) to the document.
    std::pair<QString, std::vector<QByteArray>> describeFile(TDocument& Document,
                                                             const QString& Spec) const
    {
        const QString path = Spec.section(QLatin1Char('='), 0, 0);
        std::vector<QByteArray> pieces;
        for (const QChar letter : Spec.section(QLatin1Char('='), 1)) {
            if (letter.isDigit())
                pieces.push_back(m_Chunks[size_t(letter.digitValue())]);
            else if (letter == QLatin1Char('n'))
                pieces.push_back(pseudoRandom(21, int(5 * MiB)));
            else
                pieces.push_back(pseudoRandom(letter == QLatin1Char('s') ? 22 : 23, 3000));
        }
        if (pieces.size() == 1)
            Document.addWholeFile(path, pieces[0]);
        else
            Document.addChunkedFile(path, pieces);
        return {path, pieces};
    }

    // An update from a document listing OldEntry to one wanting only "a.bin", which is on disk
    // as wanted; planning and the download phase must succeed.
    void updateFromOldEntry(const QString& OldEntry)
    {
        QVERIFY(writeBytes(inside("a.bin"), "wanted"));
        TDocument remote;
        remote.addWholeFile(QStringLiteral("a.bin"), "wanted");
        TDocument installed;
        installed.addWholeFile(OldEntry, "old");

        const auto installation = makeInstallation(m_pHelper, m_Installation);
        const TPlan plan = run(remote, installed, false);
        QVERIFY(plan.Difference.m_ErrorMessage.isEmpty());
        QVERIFY(finishDownloadPhase(*installation, plan.Difference));
        QVERIFY(installation->isWithoutError());
    }

    // Plans as the installation manager does: on the thread pool, progress delivered queued.
    TPlan run(const TDocument& remote, const TDocument& installed, bool fastScan)
    {
        const auto installation = makeInstallation(m_pHelper, m_Installation);
        TPlan plan;
        QObject receiver;
        connect(
            installation.get(), &TPackageInstallation::scanProgress, &receiver,
            [&plan](TFileSize done, TFileSize total) {
                plan.Progress.push_back({done, total});
            },
            Qt::QueuedConnection);
        QFutureWatcher<TPackageDifference> watcher;
        QSignalSpy finished(&watcher, &QFutureWatcherBase::finished);
        watcher.setFuture(QtConcurrent::run(
            installation.get(), &TPackageInstallation::computeRequiredChanges, QDir(m_Installation),
            m_pHelper, remote.reader(), installed.reader(), fastScan));
        if (!finished.wait(120000))
            qFatal("planning did not finish");
        plan.Difference = watcher.result();
        return plan;
    }

    QByteArray m_Content;
    std::vector<QByteArray> m_Chunks;
    std::unique_ptr<QTemporaryDir> m_pRoot;
    QString m_Installation;
    std::shared_ptr<orvik::launcher::TLauncherFilesystemHelper> m_pHelper;
};

QTEST_GUILESS_MAIN(TestInstallationPlanning)
#include "tst_installationplanning.moc"
