#include "shared/chunker/chunkscanner.h"
#include "shared/chunker/contentdefinedchunker.h"
#include "shared/chunker/gear.h"
#include "shared/chunker/onepassscan.h"
#include "shared/hash/sha256.h"
#include "shared/hash/streamsha256.h"

#include <QBuffer>
#include <QtTest>

#include <vector>

using TLengths = std::vector<quint64>;
Q_DECLARE_METATYPE(TLengths)

namespace {

constexpr quint64 MiB = 1048576;

QByteArray zeros(quint64 length)
{
    return QByteArray(int(length), '\0');
}

// Hashed from a fresh state, these 21 bytes put a boundary after their last byte and nowhere
// before it. From any other state (one byte more or less of hashing, or a hash carried over from
// the previous chunk) they put none within them. Found offline with an independent
// implementation of the boundary rule. Zeros never qualify, whatever the state.
QByteArray cutPattern()
{
    const uchar bytes[] = {221, 244, 49,  217, 48,  149, 231, 164, 108, 8,  3,
                           248, 5,   246, 159, 152, 185, 234, 243, 7,   120};
    return QByteArray(reinterpret_cast<const char*>(bytes), int(sizeof(bytes)));
}

// The same generator as the offline reference that produced the expected lengths below.
QByteArray pseudoRandom(quint64 seed, quint64 length)
{
    QByteArray data(int(length), Qt::Uninitialized);
    quint64 x = seed;
    for (int i = 0; i < data.size(); ++i) {
        x = x * 6364136223846793005ULL + 1442695040888963407ULL;
        data[i] = char(x >> 56);
    }
    return data;
}

struct TChunk
{
    QByteArray Hash;
    quint64 Length;
};

using TScan = bool (*)(QIODevice&, const shared::TChunkReceiver&, std::size_t);

// Both ways of scanning where this processor runs both.
std::vector<TScan> scans()
{
    std::vector<TScan> result{&shared::scanInTwoSteps};
    if (shared::sha256RoundsAvailable())
        result.push_back(&shared::scanInOnePass);
    return result;
}

std::vector<TChunk> scan(const QByteArray& data, std::size_t readSize,
                         TScan How = &shared::scanContentDefinedChunks)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    std::vector<TChunk> chunks;
    const bool ok = How(
        buffer,
        [&](const QByteArray& hash, quint64 length) {
            chunks.push_back({hash, length});
        },
        readSize);
    return ok ? chunks : std::vector<TChunk>{};
}

} // namespace

class TestChunker : public QObject
{
    Q_OBJECT

private slots:
    // A single wrong entry would cut packages elsewhere than the publisher did. The sums were
    // computed from the published table.
    void gearTableMatchesThePublishedOne()
    {
        quint32 sum = 0;
        quint64 weighted = 0;
        for (std::size_t i = 0; i < shared::kGear.size(); ++i) {
            sum += shared::kGear[i];
            weighted += quint64(i + 1) * shared::kGear[i];
        }
        QCOMPARE(sum, quint32(0x97026d6e));
        QCOMPARE(weighted, quint64(0x1fa654d167d8));
        QCOMPARE(shared::kGear[0], quint32(0x5C95C078));
        QCOMPARE(shared::kGear[255], quint32(0x32E8EA7E));
    }

    void boundaries_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<TLengths>("expected");
        const QByteArray cut = cutPattern();
        const quint64 cutLength = 4 * MiB + quint64(cut.size());

        QTest::newRow("empty file has no chunk") << QByteArray() << TLengths{};
        QTest::newRow("3 MiB is one chunk") << zeros(3 * MiB) << TLengths{3 * MiB};
        QTest::newRow("exactly 4 MiB is one chunk") << zeros(4 * MiB) << TLengths{4 * MiB};
        // An off-by-one at the maximum shows as 16 MiB + 1 or as an empty last chunk.
        QTest::newRow("20 MiB without boundary") << zeros(20 * MiB) << TLengths{16 * MiB, 4 * MiB};
        QTest::newRow("exactly 16 MiB") << zeros(16 * MiB) << TLengths{16 * MiB};
        QTest::newRow("16 MiB and one byte") << zeros(16 * MiB + 1) << TLengths{16 * MiB, 1};
        // Hashing one byte early or late at the 4 MiB mark misses this boundary.
        QTest::newRow("boundary right after the unhashed head")
            << zeros(4 * MiB) + cut + zeros(5 * MiB) << TLengths{cutLength, 5 * MiB};
        // A hash carried over from the previous chunk misses the second boundary.
        QTest::newRow("hash restarts with every chunk")
            << zeros(4 * MiB) + cut + zeros(4 * MiB) + cut + zeros(MiB)
            << TLengths{cutLength, cutLength, MiB};
        // Hashing the head would cut at 1 MiB + 21.
        QTest::newRow("head is never hashed")
            << zeros(MiB) + cut + zeros(4 * MiB) << TLengths{5 * MiB + quint64(cut.size())};
        QTest::newRow("pseudo-random content")
            << pseudoRandom(1, 40 * MiB)
            << TLengths{9213778, 8327278, 8436796, 5020105, 6675544, 4269539};
    }
    void boundaries()
    {
        QFETCH(QByteArray, data);
        QFETCH(TLengths, expected);
        // Boundaries must not depend on how the stream is read: a prime piece size makes pieces
        // end everywhere relative to the chunk limits and to the digest's 64-byte blocks.
        for (const TScan how : scans())
            for (const std::size_t readSize : {shared::kChunkScanReadSize, std::size_t(65521)}) {
                const std::vector<TChunk> chunks = scan(data, readSize, how);
                TLengths lengths;
                quint64 offset = 0;
                for (const TChunk& chunk : chunks) {
                    lengths.push_back(chunk.Length);
                    // Each digest covers exactly its chunk's bytes, not a digest carried over.
                    QCOMPARE(chunk.Hash, shared::sha256(data.mid(int(offset), int(chunk.Length))));
                    offset += chunk.Length;
                }
                QCOMPARE(lengths, expected);
            }
    }

    // The one pass leaves the block a chunk ends in out of the running digest and finishes it
    // byte by byte; a cut at any place of a block, or a piece that ends inside a block, must give
    // the digest of exactly the chunk's bytes. Random content ends its chunks at all offsets of
    // a block, and odd piece sizes leave the digest half a block ahead of the rolling hash.
    void onePassMatchesTwoSteps_data()
    {
        QTest::addColumn<quint64>("seed");
        QTest::addColumn<int>("readSize");
        QTest::newRow("seed 2, 1 MiB pieces") << quint64(2) << int(shared::kChunkScanReadSize);
        QTest::newRow("seed 3, 1000-byte pieces") << quint64(3) << 1000;
        QTest::newRow("seed 4, 100-byte pieces") << quint64(4) << 100;
        QTest::newRow("seed 5, pieces of a block and one") << quint64(5) << 65;
    }
    void onePassMatchesTwoSteps()
    {
        if (!shared::sha256RoundsAvailable())
            QSKIP("this processor has no SHA extensions: only the two steps run here");
        QFETCH(quint64, seed);
        QFETCH(int, readSize);
        const QByteArray data = pseudoRandom(seed, 48 * MiB);
        const std::vector<TChunk> expected = scan(data, 65521, &shared::scanInTwoSteps);
        const std::vector<TChunk> chunks =
            scan(data, std::size_t(readSize), &shared::scanInOnePass);
        QCOMPARE(chunks.size(), expected.size());
        QVERIFY(expected.size() > 4);
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            QCOMPARE(chunks[i].Length, expected[i].Length);
            QCOMPARE(chunks[i].Hash.toHex(), expected[i].Hash.toHex());
        }
    }

    // A device that fails mid-way must not be reported as a complete scan.
    void readErrorIsReported()
    {
        QBuffer closed;
        QVERIFY(!shared::scanContentDefinedChunks(closed, [](const QByteArray&, quint64) {}));
    }
};

QTEST_GUILESS_MAIN(TestChunker)
#include "tst_chunker.moc"
