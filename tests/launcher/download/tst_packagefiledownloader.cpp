#include "launcher/download/downloadthread.h"
#include "launcher/download/packagefiledownloader.h"
#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/selfupdate/launcherinstallationpolicy.h"
#include "shared/container/containerheader.h"
#include "shared/container/containerwriter.h"
#include "shared/network/downloadpool.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"

#include "memorypeak.h"
#include "messagecapture.h"
#include "testfiles.h"
#include "testhttpserver.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <numeric>

#include <sys/resource.h>

using namespace orvik::launcher;
using shared::EContainerCodec;
using testsupport::TTestHttpRoute;
using testsupport::TTestHttpServer;

namespace {

constexpr int kWaitMs = 60000;
const auto kNoSingleEnd = static_cast<EPackageDownloaderError>(99);

QByteArray sha256(const QByteArray& data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256);
}

QByteArray pattern(int size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = quint32(seed) * 2654435761u + 1;
    for (int i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = char(state >> 24);
    }
    return bytes;
}

// The same container with another unpacked size in its header.
QByteArray withDeclaredSize(const QByteArray& container, quint64 declared)
{
    shared::TContainerHeader header;
    if (shared::readContainerHeader(container, header) != shared::EContainerHeaderStatus::Valid)
        return {};
    QByteArray bytes = container.left(2);
    shared::appendContainerVarint(bytes, declared);
    shared::appendContainerVarint(bytes, header.m_nPackedSize);
    return bytes + container.mid(int(header.m_nPayloadOffset));
}

// A ZPAQ container for UnpackedSize bytes whose block's model is four context models of 2^27 to
// 2^24 entries of four bytes: 960 MiB that a decoder fills before the first byte.
QByteArray zpaqContainerAskingFor960MiB(quint64 unpackedSize)
{
    QByteArray payload = QByteArray::fromHex("376b5374a03183d38cb228b0d37a50510101"
                                             "1400 00000000 04 021bff 021aff 0219ff 0218ff 00"
                                             "38 00 01000000");
    payload += pattern(3000, 33) + QByteArray::fromHex("00000000feff");
    QByteArray bytes = QByteArray::fromHex("7006");
    shared::appendContainerVarint(bytes, unpackedSize);
    shared::appendContainerVarint(bytes, quint64(payload.size()));
    return bytes + payload;
}

// A container of one Zstandard frame of Size bytes (a multiple of 128 KiB) in run-length blocks of
// 128 KiB, each of its own byte, with a window of 1 MiB: a few bytes per block on the wire. Digest
// becomes the SHA-256 of the content, computed without holding it.
QByteArray zstdRunLengthContainer(quint64 size, QByteArray& digest)
{
    constexpr quint32 kBlock = 128 * 1024;
    QByteArray frame = QByteArray::fromHex("28b52ffdc050");
    for (int i = 0; i < 8; ++i)
        frame += char((size >> (8 * i)) & 0xff);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const quint64 blocks = size / kBlock;
    for (quint64 i = 0; i < blocks; ++i) {
        const quint32 header = kBlock << 3 | 1u << 1 | (i + 1 == blocks ? 1u : 0u);
        const char byte = char((i * 37 + 11) & 0xff);
        frame += char(header & 0xff);
        frame += char((header >> 8) & 0xff);
        frame += char((header >> 16) & 0xff);
        frame += byte;
        hash.addData(QByteArray(int(kBlock), byte));
    }
    digest = hash.result();
    QByteArray bytes = QByteArray::fromHex("7008");
    shared::appendContainerVarint(bytes, size);
    shared::appendContainerVarint(bytes, quint64(frame.size()));
    return bytes + frame;
}

QByteArray fileDigest(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {};
    return hash.result();
}

// While it lives, no file of this process may grow past Bytes: writes beyond fail with EFBIG
// ("File too large") instead of raising SIGXFSZ, as they would on a full disk. Output that is
// redirected to a file rather than a pipe loses what is written meanwhile.
class TFileSizeLimit
{
public:
    explicit TFileSizeLimit(rlim_t Bytes)
    {
        m_PreviousHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_Previous);
        rlimit limited = m_Previous;
        limited.rlim_cur = Bytes;
        m_bActive = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~TFileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_Previous);
        std::signal(SIGXFSZ, m_PreviousHandler);
    }
    bool active() const { return m_bActive; }

private:
    rlimit m_Previous{};
    void (*m_PreviousHandler)(int) = nullptr;
    bool m_bActive = false;
};

// A file-system helper whose deletions fail, as they do for files the system holds open.
class TUndeletableFiles : public shared::TFileSystemHelper
{
public:
    bool deleteFile(const QString& path) override
    {
        throw std::runtime_error(("Failed to delete file " + path).toStdString());
    }
};

} // namespace

class TestPackageFileDownloader : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_pMessages = std::make_unique<testsupport::TMessageCapture>();
        m_pServer = std::make_unique<TTestHttpServer>();
        QVERIFY(m_pServer->start());
        m_pInstallDir = std::make_unique<QTemporaryDir>();
        m_pAppDir = std::make_unique<QTemporaryDir>();
        m_Files.clear();
        configure(100, false);
    }

    void cleanup()
    {
        m_pDownloader.reset();
        m_pServer.reset();
        m_pMessages.reset();
    }

    void assemblesFilesFromSharedChunks()
    {
        const QByteArray a = pattern(70000, 1);
        const QByteArray b = pattern(50000, 2);
        const TChunkInPackage chunkA = serveChunk("/c/a", a, EContainerCodec::Deflate);
        const TChunkInPackage chunkB = serveChunk("/c/b", b, EContainerCodec::Lzma);
        addFile("bin/game", {chunkA, chunkB, chunkA}, {0, 1, 2}, true);
        addFile("data/b.dat", {chunkB}, {0});

        QCOMPARE(run(), EPackageDownloaderError::NoError);
        QCOMPARE(readInstalled("bin/game"), a + b + a);
        QCOMPARE(readInstalled("data/b.dat"), b);
        // A chunk needed at several places is fetched once.
        QCOMPARE(m_pServer->requestCount("/c/a"), 1);
        QCOMPARE(m_pServer->requestCount("/c/b"), 1);
        QVERIFY(QFileInfo(installed("bin/game")).permissions() & QFileDevice::ExeOther);
        QVERIFY(!(QFileInfo(installed("data/b.dat")).permissions() & QFileDevice::ExeOwner));
    }

    void chunksArrivingInReverseOrder_data()
    {
        QTest::addColumn<int>("maxCachedChunks");
        QTest::newRow("parked in memory") << 100;
        QTest::newRow("parked in temporary files") << 0;
    }
    void chunksArrivingInReverseOrder()
    {
        QFETCH(int, maxCachedChunks);
        configure(maxCachedChunks, true);
        std::vector<TChunkInPackage> chunks;
        QByteArray expected;
        for (int i = 0; i < 5; ++i) {
            const QByteArray body = pattern(40000 + i, 10 + i);
            TTestHttpRoute route;
            route.body = body;
            route.delayMs = (4 - i) * 150; // the last chunk comes first
            chunks.push_back(
                serveChunk(QString("/r/%1").arg(i), body, EContainerCodec::Stored, &route));
            chunks.back().Unpack = false;
            expected += body;
        }
        addFile("reverse.bin", chunks, {0, 1, 2, 3, 4});
        QCOMPARE(run(), EPackageDownloaderError::NoError);
        QCOMPARE(readInstalled("reverse.bin"), expected);
        // The debug mode checked every write, the parked ones among them, and found no fault.
        const QByteArray log = testsupport::readBytes(installed("reverse.bin") + ".log");
        QVERIFY2(log.count(": write") == 5 && !log.contains("failed") && !log.contains("invalid"),
                 log);
        QVERIFY2(
            log.contains(maxCachedChunks == 0 ? "write tmp file correct" : "write cache correct"),
            log);
    }

    // Chunks were queued in the order of their hashes, so nearly every one arrived before its
    // turn and was parked: a fresh install held about the whole package in memory or temporary
    // files. Queued in the order they are written, one download at a time parks nothing but a
    // chunk that a later file shares, and the server sees the file order; several at a time
    // park only a handful at once.
    void manyChunksAreFetchedInWritingOrder_data()
    {
        QTest::addColumn<int>("parallel");
        QTest::addColumn<bool>("shareAChunk");
        QTest::addColumn<int>("mostParkedAtOnce");
        QTest::newRow("one at a time") << 1 << false << 0;
        QTest::newRow("one at a time, a chunk shared by two files") << 1 << true << 1;
        QTest::newRow("six at a time") << 6 << false << 12;
    }
    void manyChunksAreFetchedInWritingOrder()
    {
        QFETCH(int, parallel);
        QFETCH(bool, shareAChunk);
        QFETCH(int, mostParkedAtOnce);
        rebuildDownloader(parallel);
        constexpr int kFiles = 4;
        constexpr int kChunksPerFile = 16;
        QStringList firstUses;
        QList<QByteArray> expected;
        TChunkInPackage shared;
        for (int f = 0; f < kFiles; ++f) {
            std::vector<TChunkInPackage> chunks;
            QByteArray content;
            for (int c = 0; c < kChunksPerFile; ++c) {
                // The third chunk of the first file is the ninth of the last.
                if (shareAChunk && f == kFiles - 1 && c == 8) {
                    chunks.push_back(shared);
                    content += pattern(20000, 999);
                    continue;
                }
                const int seed = 300 + f * kChunksPerFile + c;
                const QByteArray body = pattern(20000 + c, seed);
                const QString path = QString("/order/%1").arg(seed);
                chunks.push_back(serveChunk(path, body, EContainerCodec::Stored));
                if (shareAChunk && f == 0 && c == 2) {
                    chunks.back() = serveChunk(path, pattern(20000, 999), EContainerCodec::Stored);
                    shared = chunks.back();
                    content += pattern(20000, 999);
                } else {
                    content += body;
                }
                firstUses << path;
            }
            std::vector<int> positions(chunks.size());
            std::iota(positions.begin(), positions.end(), 0);
            addFile(QString("order%1.bin").arg(f), chunks, positions);
            expected << content;
        }

        QCOMPARE(run(), EPackageDownloaderError::NoError);
        for (int f = 0; f < kFiles; ++f)
            QCOMPARE(readInstalled(QString("order%1.bin").arg(f)), expected[f]);
        const TPackageFileDownloader::TParkingStatistics parking =
            m_pDownloader->parkingStatistics();
        if (parallel == 1) {
            QCOMPARE(requestPaths(), firstUses);
            QCOMPARE(parking.Parked, mostParkedAtOnce);
        }
        QVERIFY2(parking.MostHeldAtOnce <= mostParkedAtOnce,
                 qPrintable(QString("%1 chunks parked, at most %2 at once")
                                .arg(parking.Parked)
                                .arg(parking.MostHeldAtOnce)));
    }

    // A file's assembly state, as large as its record, was made for every file at the start of
    // a run, and every URL was queued in the pool: a package of many small files held one of
    // each per file while only as many as run at once are being written. At most one state per
    // download slot is held, and the pool holds a few URLs beyond its bound.
    void fileStatesLiveOnlyWhileWritten_data()
    {
        QTest::addColumn<int>("parallel");
        QTest::newRow("one at a time") << 1;
        QTest::newRow("four at a time") << 4;
    }
    void fileStatesLiveOnlyWhileWritten()
    {
        QFETCH(int, parallel);
        rebuildDownloader(parallel);
        for (int f = 0; f < 40; ++f) {
            const QByteArray body = pattern(100 + f, 500 + f);
            addFile(QString("small/%1.dat").arg(f),
                    {serveChunk(QString("/small/%1").arg(f), body, EContainerCodec::Stored)}, {0});
        }
        int mostOutstanding = 0;
        connect(m_pPool.get(), &shared::TDownloadPool::success, this, [&] {
            mostOutstanding =
                std::max(mostOutstanding, int(m_pPool->getNumberOfOutstandingDownloads()));
        });
        QCOMPARE(run(), EPackageDownloaderError::NoError);
        QCOMPARE(readInstalled("small/39.dat"), pattern(139, 539));
        QVERIFY2(mostOutstanding <= 2 * parallel, qPrintable(QString::number(mostOutstanding)));
        QVERIFY2(m_pDownloader->mostFilesHeldAtOnce() <= parallel,
                 qPrintable(QString::number(m_pDownloader->mostFilesHeldAtOnce())));
    }

    void wrongBodyIsFetchedFourTimes()
    {
        TChunkInPackage chunk = serveChunk("/bad", pattern(1000, 3), EContainerCodec::Stored);
        chunk.UnpackedHash = sha256("something else");
        addFile("bad.bin", {chunk}, {0});
        QCOMPARE(run(), EPackageDownloaderError::DownloadFailed);
        QCOMPARE(m_pServer->requestCount("/bad"), 4);
    }

    // A missing container was known at once, yet the run went on with its other downloads and
    // the player learned of the failure only when the slowest had finished. A permanent answer
    // ends the run at once, without retries and without waiting for the others.
    void permanentAnswerEndsTheRunAtOnce_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("404 not found") << 404;
        QTest::newRow("410 gone") << 410;
    }
    void permanentAnswerEndsTheRunAtOnce()
    {
        QFETCH(int, status);
        TTestHttpRoute missing;
        missing.status = status;
        addFile("missing.bin",
                {serveChunk("/missing", pattern(500, 21), EContainerCodec::Deflate, &missing)},
                {0});
        TTestHttpRoute slow;
        slow.delayMs = 2 * kWaitMs;
        addFile("slow.bin",
                {serveChunk("/slow", pattern(500, 22), EContainerCodec::Deflate, &slow)}, {0});
        QCOMPARE(run(), EPackageDownloaderError::DownloadFailed);
        QCOMPARE(m_pServer->requestCount("/missing"), 1);
        QVERIFY(!QFileInfo::exists(installed("slow.bin")));
    }

    // A running installation could be neither paused nor cancelled. A stopped run ends once,
    // as Stopped, keeps the files it wrote and fetches nothing more.
    void stoppedRunKeepsWhatItWrote()
    {
        const QByteArray body = pattern(700, 23);
        addFile("done.bin", {serveChunk("/done", body, EContainerCodec::Deflate)}, {0});
        TTestHttpRoute slow;
        slow.delayMs = 2 * kWaitMs;
        addFile("slow.bin",
                {serveChunk("/stalled", pattern(500, 24), EContainerCodec::Deflate, &slow)}, {0});
        connect(m_pDownloader.get(), &TPackageFileDownloader::progress, this,
                [this](TFileSize, TFileSize, TFileSize Written, TFileSize) {
                    if (Written > 0)
                        m_pDownloader->stop();
                });
        QCOMPARE(run(), EPackageDownloaderError::Stopped);
        QCOMPARE(readInstalled("done.bin"), body);
        QVERIFY(!QFileInfo::exists(installed("slow.bin")));
        QCOMPARE(m_pServer->requestCount("/stalled"), 1);
    }

    // The downloads' own thread: a downloader that could not be made took the process down with
    // a thread still running, and one torn down with a body on the line must not wait for it.
    void downloadsThreadEndsWithoutWaitingForTheLine()
    {
        QVERIFY_EXCEPTION_THROWN(TDownloadThread([]() -> std::unique_ptr<TPackageFileDownloader> {
                                     throw std::runtime_error("no downloader");
                                 }),
                                 std::runtime_error);

        TTestHttpRoute slow;
        slow.delayMs = 2 * kWaitMs;
        addFile("slow.bin",
                {serveChunk("/stalled", pattern(500, 24), EContainerCodec::Deflate, &slow)}, {0});
        auto downloads = std::make_unique<TDownloadThread>([this] {
            auto manager = std::make_shared<shared::QNetworkAccessManagerWrapper>(
                std::make_shared<QNetworkAccessManager>());
            return std::make_unique<TPackageFileDownloader>(
                std::make_shared<shared::TDownloadPool>(6, manager, false), m_pFilesystem);
        });
        QSignalSpy asked(m_pServer.get(), &TTestHttpServer::requestReceived);
        downloads->startDownload(QDir(m_pInstallDir->path()), gameInstallationPolicy(),
                                 TDownloadRun::prepare(m_Files));
        QVERIFY(asked.wait(kWaitMs));
        QElapsedTimer teardown;
        teardown.start();
        downloads.reset();
        QVERIFY2(teardown.elapsed() < kWaitMs, qPrintable(QString::number(teardown.elapsed())));
        QVERIFY(!QFileInfo::exists(installed("slow.bin")));
    }

    void transientServerErrorsAreRetried()
    {
        TTestHttpRoute route;
        route.failFirst = 2;
        route.failStatus = 500;
        const QByteArray body = pattern(3000, 4);
        addFile("retry.bin", {serveChunk("/flaky", body, EContainerCodec::Lzip, &route)}, {0});
        QCOMPARE(run(), EPackageDownloaderError::NoError);
        QCOMPARE(m_pServer->requestCount("/flaky"), 3);
        QCOMPARE(readInstalled("retry.bin"), body);
    }

    // A body was read to its end whatever its length: an endless one for a 7 KB file grew the
    // launcher by gigabytes per attempt. Reading stops past the size the document allows, and
    // that counts as a failed attempt. 32 MiB stands in for endless, so that code without the
    // limit finishes, wrongly successful, instead of filling the memory.
    void bodyLongerThanDocumentedFails_data()
    {
        QTest::addColumn<bool>("documentStatesPackedSize");
        QTest::newRow("packed size stated") << true;
        QTest::newRow("no packed size, bounded by the unpacked size") << false;
    }
    void bodyLongerThanDocumentedFails()
    {
        QFETCH(bool, documentStatesPackedSize);
        const QByteArray original = pattern(7000, 17);
        TChunkInPackage chunk = serveChunk("/long", original, EContainerCodec::Stored);
        TTestHttpRoute route;
        route.body = shared::makeContainer(original, EContainerCodec::Stored);
        route.streamBytes = 32 << 20;
        m_pServer->setRoute("/long", route);
        if (!documentStatesPackedSize)
            chunk.PackedSize = 0;
        addFile("long.bin", {chunk}, {0});
        QCOMPARE(run(), EPackageDownloaderError::DownloadFailed);
        QCOMPARE(m_pServer->requestCount("/long"), TPackageFileDownloader::kMaxAttempts);
        QVERIFY(m_pMessages->contains("longer than the"));
    }

    void undecodableContainerIsNotRetried()
    {
        const QByteArray original = pattern(100, 5);
        TChunkInPackage chunk = serveChunk("/codec1", original, EContainerCodec::Stored);
        // Codec 1 is valid in a header but nothing decodes it.
        const QByteArray body = QByteArray("\x70\x01", 2) + char(100) + char(100) + original;
        m_pServer->serve("/codec1", body);
        describeBody(chunk, body);
        addFile("codec1.bin", {chunk}, {0});
        QCOMPARE(run(), EPackageDownloaderError::DownloadFailed);
        QCOMPARE(m_pServer->requestCount("/codec1"), 1);
    }

    // The output is allocated at the size the container declares: a 1 KiB file whose container
    // declared 2 GiB cost 2 GiB per attempt. A header that disagrees with the document is
    // refused before decoding, and like any undecodable body it is not fetched again.
    void containerDeclaringAnotherSizeIsRefused_data()
    {
        QTest::addColumn<int>("codec");
        QTest::addColumn<quint64>("declared");
        QTest::newRow("declares more, stored") << int(EContainerCodec::Stored) << quint64(64 << 20);
        QTest::newRow("declares less, LZMA") << int(EContainerCodec::Lzma) << quint64(100);
    }
    void containerDeclaringAnotherSizeIsRefused()
    {
        QFETCH(int, codec);
        QFETCH(quint64, declared);
        const QByteArray original = pattern(1024, 13);
        const auto containerCodec = static_cast<EContainerCodec>(codec);
        TChunkInPackage chunk = serveChunk("/lying", original, containerCodec);
        const QByteArray body =
            withDeclaredSize(shared::makeContainer(original, containerCodec), declared);
        QVERIFY(!body.isEmpty());
        m_pServer->serve("/lying", body);
        describeBody(chunk, body);
        addFile("lying.bin", {chunk}, {0});
        QCOMPARE(run(), EPackageDownloaderError::DownloadFailed);
        QCOMPARE(m_pServer->requestCount("/lying"), 1);
        QVERIFY(m_pMessages->contains(
            QString("declares %1 unpacked bytes, 1024 are expected").arg(declared)));
    }

    // A swapped body was decoded before anything checked it: a 4 KiB ZPAQ body whose model
    // asked for 960 MiB was given it, and a container declaring another size was refused only by
    // its decoder. The body is held to the document's packed size and digest first; a mismatch
    // is a failed attempt, retried like a body whose decoded bytes fail their check, and no
    // decoder runs (the peak stays flat, the message names the digest or the size).
    void swappedBodyFailsBeforeDecoding_data()
    {
        QTest::addColumn<QByteArray>("swapped");
        QTest::addColumn<QString>("message");
        const QByteArray original = pattern(4096, 31);
        QByteArray flipped = shared::makeContainer(original, EContainerCodec::Stored);
        flipped[flipped.size() - 1] = char(flipped.at(flipped.size() - 1) ^ 1);
        QTest::newRow("ZPAQ body whose model asks for 960 MiB")
            << zpaqContainerAskingFor960MiB(4096) << "its document says";
        QTest::newRow("container declaring another size")
            << withDeclaredSize(shared::makeContainer(original, EContainerCodec::Stored), 100)
            << "its document says";
        QTest::newRow("same length, other bytes") << flipped << "digest differs";
    }
    void swappedBodyFailsBeforeDecoding()
    {
        QFETCH(QByteArray, swapped);
        QFETCH(QString, message);
        TChunkInPackage chunk = serveChunk("/swapped", pattern(4096, 31), EContainerCodec::Stored);
        m_pServer->serve("/swapped", swapped);
        addFile("swapped.bin", {chunk}, {0});
        QVERIFY(testsupport::resetPeakResident());
        const qint64 before = testsupport::peakResidentKiB();
        QCOMPARE(run(), EPackageDownloaderError::DownloadFailed);
        const qint64 growthKiB = testsupport::peakResidentKiB() - before;
        QVERIFY2(growthKiB < 64 * 1024, qPrintable(QString::number(growthKiB)));
        QCOMPARE(m_pServer->requestCount("/swapped"), TPackageFileDownloader::kMaxAttempts);
        QVERIFY(m_pMessages->contains(message));
        QVERIFY(!QFileInfo::exists(installed("swapped.bin")));
    }

    // Not a fault: a document from before packed digests is checked as before, by the decoded
    // bytes alone, whatever its packed size says.
    void documentWithoutPackedDigestIsCheckedOnceDecoded()
    {
        const QByteArray original = pattern(5000, 32);
        TChunkInPackage chunk = serveChunk("/old", original, EContainerCodec::Zstd);
        chunk.PackedHash.clear();
        chunk.PackedSize += 10;
        addFile("old.bin", {chunk}, {0});
        QCOMPARE(run(), EPackageDownloaderError::NoError);
        QCOMPARE(readInstalled("old.bin"), original);
    }

    // A file of 1 GiB downloaded whole in a Zstandard container was decoded whole in memory
    // (1,066 MiB peak). It is decoded piece by piece into its place and checked as it is
    // written; bytes that fail their check are a failed attempt like any other, and the peak
    // stays far below the file's size either way.
    void largeWholeFileIsDecodedPiecewise_data()
    {
        QTest::addColumn<bool>("honest");
        QTest::newRow("honest body") << true;
        QTest::newRow("decoded bytes not the documented ones") << false;
    }
    void largeWholeFileIsDecodedPiecewise()
    {
        QFETCH(bool, honest);
        constexpr quint64 kSize = quint64(1) << 30;
        QByteArray digest;
        const QByteArray body = zstdRunLengthContainer(kSize, digest);
        m_pServer->serve("/large", body);
        TChunkInPackage chunk;
        chunk.Url = m_pServer->url("/large");
        describeBody(chunk, body);
        chunk.UnpackedSize = kSize;
        chunk.UnpackedHash = honest ? digest : sha256("another file");
        addFile("large.pak", {chunk}, {0});
        QVERIFY(testsupport::resetPeakResident());
        const qint64 before = testsupport::peakResidentKiB();
        QCOMPARE(run(), honest ? EPackageDownloaderError::NoError
                               : EPackageDownloaderError::DownloadFailed);
        const qint64 growthKiB = testsupport::peakResidentKiB() - before;
        qInfo() << "peak growth KiB" << growthKiB;
        QVERIFY2(growthKiB < 300 * 1024, qPrintable(QString::number(growthKiB)));
        if (honest) {
            QCOMPARE(QFileInfo(installed("large.pak")).size(), qint64(kSize));
            QCOMPARE(fileDigest(installed("large.pak")), digest);
        } else {
            QCOMPARE(m_pServer->requestCount("/large"), TPackageFileDownloader::kMaxAttempts);
        }
    }

    void plainBodyMarkedAsContainerIsVerifiedAsItIs()
    {
        const QByteArray body = "{\"not\": \"a container\"}";
        TChunkInPackage chunk = serveChunk("/plain", body, EContainerCodec::Stored);
        m_pServer->serve("/plain", body);
        describeBody(chunk, body);
        chunk.Unpack = true;
        addFile("plain.json", {chunk}, {0});
        QCOMPARE(run(), EPackageDownloaderError::NoError);
        QCOMPARE(readInstalled("plain.json"), body);
    }

    void reusedFileKeepsItsData()
    {
        const QByteArray first = pattern(30000, 6);
        const QByteArray second = pattern(20000, 7);
        const TChunkInPackage chunk0 = serveChunk("/k/0", first, EContainerCodec::Stored);
        const TChunkInPackage chunk1 = serveChunk("/k/1", second, EContainerCodec::Stored);
        QVERIFY(testsupport::writeBytes(installed("kept.bin"), first + QByteArray(20000, 'x')));
        addFile("kept.bin", {chunk0, chunk1}, {1});
        QCOMPARE(run(), EPackageDownloaderError::NoError);
        QCOMPARE(readInstalled("kept.bin"), first + second);
        QCOMPARE(m_pServer->requestCount("/k/0"), 0);
    }

    void documentPathsStayInsideTheInstallation()
    {
        const QByteArray body = pattern(500, 8);
        addFile("../../outside.bin", {serveChunk("/o", body, EContainerCodec::Stored)}, {0});
        QCOMPARE(run(), EPackageDownloaderError::NoError);
        QCOMPARE(readInstalled("outside.bin"), body);
        QVERIFY(
            !QFileInfo::exists(QFileInfo(m_pInstallDir->path()).absolutePath() + "/outside.bin"));
    }

    void unwritableTargetFailsTheSave()
    {
        QVERIFY(testsupport::writeBytes(installed("blocker"), "a file where a folder must go"));
        addFile("blocker/file.bin", {serveChunk("/s", pattern(10, 9), EContainerCodec::Stored)},
                {0});
        QCOMPARE(run(), EPackageDownloaderError::SavingOperationFailed);
    }

    // A write that fails only when a small buffered file is flushed (full disk, file-size limit)
    // was ignored: the file was reported complete, truncated. Each row makes a different write
    // cross the limit; the save must fail and the system's reason must reach the log.
    void writeFailureFailsTheSave_data()
    {
        QTest::addColumn<int>("fileSize");
        QTest::addColumn<bool>("parkedOnDisk");
        QTest::newRow("small file, fails only when closed") << 6000 << false;
        QTest::newRow("large file, fails when written") << 100000 << false;
        QTest::newRow("chunk parked in a temporary file") << 6000 << true;
    }
    void writeFailureFailsTheSave()
    {
        QFETCH(int, fileSize);
        QFETCH(bool, parkedOnDisk);
        configure(0, false);
        const QByteArray big = pattern(fileSize, 14);
        if (parkedOnDisk) {
            // Both chunks after the first arrive before it; the small one parks in memory, then
            // the big one on disk.
            std::vector<TChunkInPackage> chunks;
            const QList<QPair<QByteArray, int>> bodies{
                {pattern(500, 15), 400}, {pattern(500, 16), 0}, {big, 150}};
            for (const auto& [body, delayMs] : bodies) {
                TTestHttpRoute route;
                route.body = body;
                route.delayMs = delayMs;
                chunks.push_back(serveChunk(QString("/w/%1").arg(chunks.size()), body,
                                            EContainerCodec::Stored, &route));
                chunks.back().Unpack = false;
            }
            addFile("w.bin", chunks, {0, 1, 2});
        } else {
            addFile("w.bin", {serveChunk("/w/big", big, EContainerCodec::Stored)}, {0});
        }
        EPackageDownloaderError outcome = kNoSingleEnd;
        {
            TFileSizeLimit limit(4096);
            QVERIFY(limit.active());
            outcome = run();
        }
        QCOMPARE(outcome, EPackageDownloaderError::SavingOperationFailed);
        QVERIFY(m_pMessages->contains(QString::fromLocal8Bit(strerror(EFBIG))));
    }

    void undeletableTarget_data()
    {
        QTest::addColumn<bool>("launcher");
        QTest::addColumn<int>("expected");
        QTest::newRow("game package")
            << false << int(EPackageDownloaderError::SavingOperationFailed);
        QTest::newRow("launcher self-update") << true << int(EPackageDownloaderError::NoError);
    }
    void undeletableTarget()
    {
        QFETCH(bool, launcher);
        QFETCH(int, expected);
        m_pFilesystem = std::make_shared<TLauncherFilesystemHelper>(
            m_pAppDir->path(), std::make_shared<TUndeletableFiles>());
        rebuildDownloader();
        QVERIFY(testsupport::writeBytes(installed("launcher"), "running version"));
        const QByteArray body = pattern(800, 11);
        addFile("launcher", {serveChunk("/l", body, EContainerCodec::Stored)}, {0});
        QCOMPARE(int(run(launcher ? std::make_shared<const TLauncherInstallationPolicy>()
                                  : gameInstallationPolicy())),
                 expected);
        if (launcher) {
            QCOMPARE(readInstalled("launcher"), body);
            QCOMPARE(readInstalled("launcher.old"), QByteArray("running version"));
        } else {
            QCOMPARE(readInstalled("launcher"), QByteArray("running version"));
        }
    }

    void finalProgressAndEmptyRun()
    {
        const QByteArray body = pattern(5000, 12);
        TChunkInPackage chunk = serveChunk("/p", body, EContainerCodec::Zpaq);
        addFile("p.bin", {chunk}, {0});
        QSignalSpy progress(m_pDownloader.get(), &TPackageFileDownloader::progress);
        QCOMPARE(run(), EPackageDownloaderError::NoError);
        QVERIFY(!progress.isEmpty());
        const QList<QVariant> last = progress.last();
        QCOMPARE(last.at(0).value<TFileSize>(), chunk.PackedSize);
        QCOMPARE(last.at(1).value<TFileSize>(), chunk.PackedSize);

        m_Files.clear();
        QCOMPARE(run(), EPackageDownloaderError::NoError); // nothing to fetch ends at once
    }

    // Files that share chunks parked in temporary files read them on several threads at once;
    // without synchronisation the readers disturb each other's handle and position (short
    // reads, failed saves, crashes). Several rounds, as the overlap is a matter of timing.
    void sharedParkedChunksAreReadConcurrently()
    {
        configure(0, false);
        rebuildDownloader(32);
        // As many saving threads as a player's machine has, whatever this one has.
        QThreadPool& threads = *QThreadPool::globalInstance();
        const int previousThreads = threads.maxThreadCount();
        threads.setMaxThreadCount(8);
        const auto restoreThreads = qScopeGuard(
            [&threads, previousThreads] { threads.setMaxThreadCount(previousThreads); });
        std::vector<TChunkInPackage> sharedChunks;
        QByteArray sharedBytes;
        for (int i = 0; i < 16; ++i) {
            const QByteArray body = pattern(64 * 1024, 100 + i);
            sharedChunks.push_back(
                serveChunk(QString("/shared/%1").arg(i), body, EContainerCodec::Stored));
            sharedBytes += body;
        }
        QList<QByteArray> expected;
        for (int f = 0; f < 16; ++f) {
            // Each file's own first chunk comes late, so the shared ones are parked by then.
            TTestHttpRoute route;
            route.body = pattern(1000 + f, 200 + f);
            route.delayMs = 200;
            std::vector<TChunkInPackage> chunks{
                serveChunk(QString("/own/%1").arg(f), route.body, EContainerCodec::Stored, &route)};
            chunks.back().Unpack = false;
            chunks.insert(chunks.end(), sharedChunks.begin(), sharedChunks.end());
            std::vector<int> positions(chunks.size());
            std::iota(positions.begin(), positions.end(), 0);
            addFile(QString("f%1.bin").arg(f), chunks, positions);
            expected << route.body + sharedBytes;
        }
        for (int round = 0; round < 6; ++round) {
            QCOMPARE(run(), EPackageDownloaderError::NoError);
            for (int f = 0; f < expected.size(); ++f)
                QCOMPARE(readInstalled(QString("f%1.bin").arg(f)), expected[f]);
        }
    }

private:
    void configure(int maxCachedChunks, bool chunkVerification)
    {
        const QByteArray ini =
            "[OPTIONS]\nmaxCachedChunks=" + QByteArray::number(maxCachedChunks) +
            "\n[DEBUG]\nchunkVerification=" + (chunkVerification ? "true" : "false") + "\n";
        QVERIFY(testsupport::writeBytes(m_pAppDir->filePath("launchersettings.ini"), ini));
        m_pFilesystem = std::make_shared<TLauncherFilesystemHelper>(m_pAppDir->path());
        rebuildDownloader();
    }

    void rebuildDownloader(int maxConcurrentDownloads = 6)
    {
        m_pDownloader.reset();
        auto manager = std::make_shared<shared::QNetworkAccessManagerWrapper>(
            std::make_shared<QNetworkAccessManager>());
        m_pPool = std::make_shared<shared::TDownloadPool>(maxConcurrentDownloads, manager, false);
        m_pDownloader = std::make_unique<TPackageFileDownloader>(m_pPool, m_pFilesystem);
    }

    TChunkInPackage serveChunk(const QString& path, const QByteArray& unpacked,
                               EContainerCodec codec, TTestHttpRoute* route = nullptr)
    {
        const QByteArray body = codec == EContainerCodec::Stored && route
                                    ? route->body
                                    : shared::makeContainer(unpacked, codec);
        if (route) {
            route->body = body;
            m_pServer->setRoute(path, *route);
        } else {
            m_pServer->serve(path, body);
        }
        TChunkInPackage chunk;
        chunk.Url = m_pServer->url(path);
        chunk.PackedSize = TFileSize(body.size());
        chunk.PackedHash = sha256(body);
        chunk.UnpackedSize = TFileSize(unpacked.size());
        chunk.UnpackedHash = sha256(unpacked);
        chunk.Unpack = true;
        return chunk;
    }

    // The document describes Body as the one served for Chunk.
    static void describeBody(TChunkInPackage& chunk, const QByteArray& body)
    {
        chunk.PackedSize = TFileSize(body.size());
        chunk.PackedHash = sha256(body);
    }

    void addFile(const QString& path, const std::vector<TChunkInPackage>& chunks,
                 const std::vector<int>& positions, bool executable = false)
    {
        TFileToDownload file;
        file.LocalPath = path;
        file.Chunks = chunks;
        file.Positions = positions;
        file.Executable = executable;
        for (const TChunkInPackage& chunk : chunks)
            file.Size += chunk.UnpackedSize;
        m_Files.push_back(file);
    }

    // The run's outcome; a run that ends twice or never gives a value no test expects.
    EPackageDownloaderError
    run(std::shared_ptr<const TInstallationPolicy> policy = gameInstallationPolicy())
    {
        QSignalSpy completed(m_pDownloader.get(), &TPackageFileDownloader::downloadCompleted);
        QSignalSpy failed(m_pDownloader.get(), &TPackageFileDownloader::downloadFailed);
        QEventLoop loop;
        connect(m_pDownloader.get(), &TPackageFileDownloader::downloadCompleted, &loop,
                &QEventLoop::quit, Qt::QueuedConnection);
        connect(m_pDownloader.get(), &TPackageFileDownloader::downloadFailed, &loop,
                &QEventLoop::quit, Qt::QueuedConnection);
        QTimer::singleShot(kWaitMs, &loop, &QEventLoop::quit);
        m_pDownloader->startDownload(QDir(m_pInstallDir->path()), std::move(policy), m_Files);
        loop.exec();
        if (completed.count() + failed.count() != 1)
            return kNoSingleEnd;
        if (!completed.isEmpty())
            return EPackageDownloaderError::NoError;
        return failed.first().first().value<EPackageDownloaderError>();
    }

    QStringList requestPaths() const
    {
        QStringList paths;
        for (const auto& request : m_pServer->requests())
            paths << request.path;
        return paths;
    }

    QString installed(const QString& path) const { return m_pInstallDir->filePath(path); }
    QByteArray readInstalled(const QString& path) const
    {
        return testsupport::readBytes(installed(path));
    }

    std::unique_ptr<testsupport::TMessageCapture> m_pMessages;
    std::unique_ptr<TTestHttpServer> m_pServer;
    std::unique_ptr<QTemporaryDir> m_pInstallDir;
    std::unique_ptr<QTemporaryDir> m_pAppDir;
    std::shared_ptr<TLauncherFilesystemHelper> m_pFilesystem;
    std::shared_ptr<shared::TDownloadPool> m_pPool;
    std::unique_ptr<TPackageFileDownloader> m_pDownloader;
    std::vector<TFileToDownload> m_Files;
};

QTEST_GUILESS_MAIN(TestPackageFileDownloader)
#include "tst_packagefiledownloader.moc"
