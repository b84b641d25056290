// The space a planned download needs, as the installation compares it with the free space.
#include "launcher/installation/diskspace.h"
#include "launcher/settings/launchersettings.h"
#include "shared/filesystemhelper/filesystemhelper.h"

#include "testfiles.h"

#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtTest>

using namespace orvik::launcher;

namespace {

TFileToDownload fileOf(const QString& path, const QList<int>& chunkSizes)
{
    TFileToDownload file;
    file.LocalPath = path;
    for (const int size : chunkSizes) {
        TChunkInPackage chunk;
        chunk.UnpackedSize = TFileSize(size);
        file.Positions.push_back(int(file.Chunks.size()));
        file.Chunks.push_back(chunk);
        file.Size += chunk.UnpackedSize;
    }
    return file;
}

} // namespace

class TestDiskSpace : public QObject
{
    Q_OBJECT

private slots:
    // Each row names the fault it catches. Sizes are in bytes; the expectation is in whole
    // blocks of the test's file system, as the files will take them.
    void neededSpace_data()
    {
        QTest::addColumn<int>("onDisk");        // size of the installed file, -1: none
        QTest::addColumn<QList<int>>("chunks"); // unpacked sizes of the file's chunks
        QTest::addColumn<int>("obsolete");      // size of a file deleted first, -1: none
        QTest::addColumn<int>("maxCachedChunks");
        QTest::addColumn<QList<int>>("expected"); // byte counts, each taken in whole blocks
        // A missing file costs its whole size.
        QTest::newRow("new file") << -1 << QList<int>{10000} << -1 << 100 << QList<int>{10000};
        // An update that rewrites a file of the same size must not need its size again, or a
        // nearly full disk refuses every patch.
        QTest::newRow("file rewritten at its size")
            << 10000 << QList<int>{6000, 4000} << -1 << 100 << QList<int>{};
        QTest::newRow("file grows")
            << 5000 << QList<int>{20000} << -1 << 100 << QList<int>{20000, -5000};
        // Obsolete files go before the download starts: their space is there for it.
        QTest::newRow("obsolete file deleted first")
            << -1 << QList<int>{10000} << 30000 << 100 << QList<int>{};
        // With no memory cache, all but one chunk of a window of 4 downloads may wait on disk:
        // the three largest.
        QTest::newRow("parked chunks beyond the memory cache")
            << -1 << QList<int>{1000, 5000, 2000, 4000, 3000} << -1 << 0
            << QList<int>{15000, 5000, 4000, 3000};
    }
    void neededSpace()
    {
        QFETCH(int, onDisk);
        QFETCH(QList<int>, chunks);
        QFETCH(int, obsolete);
        QFETCH(int, maxCachedChunks);
        QFETCH(QList<int>, expected);
        QTemporaryDir directory;
        const QStorageInfo storage(directory.path());
        QVERIFY(storage.isValid());
        const qint64 block = storage.blockSize() > 0 ? storage.blockSize() : 4096;
        if (onDisk >= 0)
            QVERIFY(
                testsupport::writeBytes(directory.filePath("game.bin"), QByteArray(onDisk, 'x')));
        std::vector<TFileInPackage> toDelete;
        if (obsolete >= 0) {
            QVERIFY(
                testsupport::writeBytes(directory.filePath("old.bin"), QByteArray(obsolete, 'o')));
            TFileInPackage old;
            old.LocalFile = "old.bin";
            toDelete.push_back(old);
        }
        TLauncherSettings settings;
        settings.maxConcurrentDownloads = 4;
        settings.maxCachedChunks = maxCachedChunks;
        shared::TFileSystemHelper fileSystem;

        const TDiskSpaceNeed need = diskSpaceNeededBy(
            fileSystem, QDir(directory.path()), {fileOf("game.bin", chunks)}, toDelete, settings);
        QVERIFY(need.Known);
        qint64 blocks = 0;
        for (const int bytes : expected)
            blocks += (bytes < 0 ? -1 : 1) * ((std::abs(bytes) + block - 1) / block);
        QCOMPARE(need.Needed, TFileSize(std::max<qint64>(blocks, 0) * block));
    }

    // Sizes no disk holds never fit: summed as they were, they wrapped to "needed 57344" and
    // the check passed.
    void sizesNoDiskHoldsNeverFit_data()
    {
        QTest::addColumn<QList<qulonglong>>("sizes"); // one file each
        QTest::newRow("2^64 - 1") << QList<qulonglong>{~0ULL};
        QTest::newRow("two files of 2^63") << QList<qulonglong>{1ULL << 63, 1ULL << 63};
    }
    void sizesNoDiskHoldsNeverFit()
    {
        QFETCH(QList<qulonglong>, sizes);
        QTemporaryDir directory;
        std::vector<TFileToDownload> files;
        for (const qulonglong size : sizes) {
            TFileToDownload file = fileOf(QString("f%1").arg(files.size()), {1});
            file.Size = size;
            file.Chunks.front().UnpackedSize = size;
            files.push_back(file);
        }
        TLauncherSettings settings;
        settings.maxConcurrentDownloads = 4;
        shared::TFileSystemHelper fileSystem;

        const TDiskSpaceNeed need =
            diskSpaceNeededBy(fileSystem, QDir(directory.path()), files, {}, settings);
        QVERIFY(need.Known);
        QVERIFY2(!need.fits(), qPrintable(QString::number(need.Needed)));
    }
};

QTEST_GUILESS_MAIN(TestDiskSpace)
#include "tst_diskspace.moc"
