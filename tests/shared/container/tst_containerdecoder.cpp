#include "shared/container/containercodec.h"
#include "shared/container/containerdecoder.h"
#include "shared/container/containerheader.h"
#include "shared/container/containerwriter.h"
#include "shared/filesystemhelper/decompressionerror.h"
#include "shared/filesystemhelper/lzmacompressedreadonlymemoryblob.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using shared::EContainerCodec;

namespace {

enum class EOutcome { NotContainer, Decodes, Fails };

QByteArray container(unsigned codecId, quint64 unpackedSize, const QByteArray& payload,
                     quint64 packedSize)
{
    QByteArray bytes;
    bytes.append(char(0x70));
    bytes.append(static_cast<char>(codecId));
    shared::appendContainerVarint(bytes, unpackedSize);
    shared::appendContainerVarint(bytes, packedSize);
    return bytes + payload;
}

QByteArray container(unsigned codecId, quint64 unpackedSize, const QByteArray& payload)
{
    return container(codecId, unpackedSize, payload, static_cast<quint64>(payload.size()));
}

QByteArray payloadOf(EContainerCodec codec, const QByteArray& data)
{
    const QByteArray packed = shared::makeContainer(data, codec);
    shared::TContainerHeader header;
    shared::readContainerHeader(packed, header);
    return packed.mid(static_cast<int>(header.m_nPayloadOffset));
}

// The payload with one byte changed, counted from its end when offset is negative.
QByteArray withByte(QByteArray payload, int offset, char value)
{
    payload[offset < 0 ? payload.size() + offset : offset] = value;
    return payload;
}

const QByteArray kAbc("abc");
const QByteArray kText = QByteArray("The quick brown fox jumps over the lazy dog. ").repeated(40);
const quint64 kHuge = quint64(1) << 62;

} // namespace

Q_DECLARE_METATYPE(EOutcome)

class TContainerDecoderTest : public QObject
{
    Q_OBJECT

private slots:
    void decodesEveryShapeOfInput_data();
    void decodesEveryShapeOfInput();
    void varintsRoundTrip_data();
    void varintsRoundTrip();
    void unpackClearsWhatTheStreamLeavesOver_data();
    void unpackClearsWhatTheStreamLeavesOver();
    void compressedBlobDecodesLeniently();
};

void TContainerDecoderTest::decodesEveryShapeOfInput_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<EOutcome>("outcome");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray zeros7(7, '\0');
    const QByteArray deflate = payloadOf(EContainerCodec::Deflate, kText);
    const QByteArray lzip = payloadOf(EContainerCodec::Lzip, kText);
    const QByteArray lzma = payloadOf(EContainerCodec::Lzma, kText);
    const QByteArray zpaq = payloadOf(EContainerCodec::Zpaq, kText);
    const quint64 textSize = static_cast<quint64>(kText.size());

    // Framing.
    QTest::newRow("stored after leading zero bytes")
        << QByteArray::fromHex("000070000303616263") << EOutcome::Decodes << kAbc;
    QTest::newRow("stored without leading zero bytes")
        << QByteArray::fromHex("70000303616263") << EOutcome::Decodes << kAbc;
    QTest::newRow("bytes after the payload are ignored")
        << QByteArray::fromHex("70000303616263ffff") << EOutcome::Decodes << kAbc;
    QTest::newRow("JSON text") << QByteArray("{\"packages\": []}") << EOutcome::NotContainer
                               << QByteArray();
    QTest::newRow("empty") << QByteArray() << EOutcome::NotContainer << QByteArray();
    QTest::newRow("only zero bytes")
        << QByteArray(5, '\0') << EOutcome::NotContainer << QByteArray();
    QTest::newRow("marker without codec id")
        << QByteArray::fromHex("000070") << EOutcome::NotContainer << QByteArray();
    QTest::newRow("codec id 24 is no container")
        << QByteArray::fromHex("70180303616263") << EOutcome::NotContainer << QByteArray();
    QTest::newRow("size running past the end")
        << QByteArray::fromHex("700080") << EOutcome::Fails << QByteArray();
    QTest::newRow("size of eleven bytes")
        << QByteArray::fromHex("7000ffffffffffffffffffff0103616263") << EOutcome::Fails
        << QByteArray();
    QTest::newRow("unpacked size 0") << container(0, 0, kAbc) << EOutcome::Fails << QByteArray();
    QTest::newRow("packed size 0") << container(0, 3, {}) << EOutcome::Fails << QByteArray();
    // Would have the decoder read beyond the end of the data.
    QTest::newRow("packed size beyond the data")
        << container(0, 2000, kAbc, 1000) << EOutcome::Fails << QByteArray();
    QTest::newRow("declared size 2^62, stored")
        << container(0, kHuge, kAbc) << EOutcome::Fails << QByteArray();
    QTest::newRow("declared size 2^62, DEFLATE")
        << container(3, kHuge, deflate) << EOutcome::Fails << QByteArray();
    QTest::newRow("declared size 2^62, ZPAQ")
        << container(6, kHuge, zpaq) << EOutcome::Fails << QByteArray();
    // The codec is named: a launcher that predates a studio's codec must say which it lacks.
    for (const unsigned id : {1u, 2u, 7u, 14u, 21u, 22u, 23u}) {
        QTest::addRow("codec id %u has no decoder", id)
            << container(id, 3, kAbc) << EOutcome::Fails
            << QByteArray("Invalid input data could not be decompressed: no decoder for codec ") +
                   QByteArray::number(id);
    }

    // Stored.
    QTest::newRow("stored payload larger than declared")
        << container(0, 2, kAbc) << EOutcome::Fails << QByteArray();
    QTest::newRow("stored payload smaller than declared")
        << container(0, 10, kAbc) << EOutcome::Decodes << kAbc;

    // DEFLATE: the declared size is the result size.
    QTest::newRow("DEFLATE shorter than declared is padded with zeros")
        << container(3, textSize + 7, deflate) << EOutcome::Decodes << kText + zeros7;
    QTest::newRow("DEFLATE longer than declared")
        << container(3, textSize - 1, deflate) << EOutcome::Fails << QByteArray();
    QTest::newRow("DEFLATE truncated") << container(3, textSize, deflate.left(deflate.size() - 3))
                                       << EOutcome::Fails << QByteArray();
    QTest::newRow("DEFLATE with an invalid block type")
        << container(3, textSize, withByte(deflate, 0, char(0x07))) << EOutcome::Fails
        << QByteArray();

    // lzip.
    QTest::newRow("lzip shorter than declared is padded with zeros")
        << container(4, textSize + 7, lzip) << EOutcome::Decodes << kText + zeros7;
    QTest::newRow("lzip longer than declared")
        << container(4, textSize - 1, lzip) << EOutcome::Fails << QByteArray();
    QTest::newRow("lzip CRC mismatch")
        << container(4, textSize, withByte(lzip, -20, char(lzip[lzip.size() - 20] ^ 1)))
        << EOutcome::Fails << QByteArray();
    QTest::newRow("lzip data size mismatch")
        << container(4, textSize + 7, withByte(lzip, -16, char(lzip[lzip.size() - 16] + 1)))
        << EOutcome::Fails << QByteArray();
    QTest::newRow("lzip without trailer")
        << container(4, textSize, lzip.left(lzip.size() - 20)) << EOutcome::Fails << QByteArray();
    QTest::newRow("lzip bad magic")
        << container(4, textSize, withByte(lzip, 0, 'X')) << EOutcome::Fails << QByteArray();
    QTest::newRow("lzip of 5 bytes")
        << container(4, textSize, lzip.left(5)) << EOutcome::Fails << QByteArray();

    // Classic .lzma: the result is what the stream produces, up to the declared size.
    QTest::newRow("LZMA shorter than declared is not padded")
        << container(5, textSize + 7, lzma) << EOutcome::Decodes << kText;
    QTest::newRow("LZMA longer than declared stops at the declared size")
        << container(10, 100, lzma) << EOutcome::Decodes << kText.left(100);
    QTest::newRow("LZMA payload of 17 bytes")
        << container(5, textSize, lzma.left(17)) << EOutcome::Fails << QByteArray();
    QTest::newRow("LZMA properties byte 225")
        << container(5, textSize, withByte(lzma, 0, char(225))) << EOutcome::Fails << QByteArray();
    QTest::newRow("LZMA truncated")
        << container(5, textSize, lzma.left(lzma.size() / 2)) << EOutcome::Fails << QByteArray();

    // ZPAQ.
    QTest::newRow("ZPAQ shorter than declared is padded with zeros")
        << container(6, textSize + 7, zpaq) << EOutcome::Decodes << kText + zeros7;
    // The part that fits could never be checked against the stream's checksum.
    QTest::newRow("ZPAQ longer than declared")
        << container(6, 100, zpaq) << EOutcome::Fails << QByteArray();
    QTest::newRow("ZPAQ without block")
        << container(6, textSize, QByteArray(64, 'z')) << EOutcome::Fails << QByteArray();

    // Zstandard: exactly one frame of exactly the declared size, within the window limit.
    const QByteArray zstd = payloadOf(EContainerCodec::Zstd, kText);
    QTest::newRow("Zstandard") << container(8, textSize, zstd) << EOutcome::Decodes << kText;
    QTest::newRow("Zstandard with long-distance matching")
        << shared::makeContainer(kText, {EContainerCodec::Zstd, 3, true}) << EOutcome::Decodes
        << kText;
    QTest::newRow("Zstandard shorter than declared")
        << container(8, textSize + 7, zstd) << EOutcome::Fails << QByteArray();
    QTest::newRow("Zstandard longer than declared")
        << container(8, textSize - 1, zstd) << EOutcome::Fails << QByteArray();
    QTest::newRow("Zstandard truncated")
        << container(8, textSize, zstd.left(zstd.size() - 1)) << EOutcome::Fails << QByteArray();
    QTest::newRow("Zstandard with bytes after the frame")
        << container(8, textSize, zstd + "x") << EOutcome::Fails << QByteArray();
    QTest::newRow("Zstandard frame twice")
        << container(8, textSize * 2, zstd + zstd) << EOutcome::Fails << QByteArray();
    QTest::newRow("declared size 2^62, Zstandard")
        << container(8, kHuge, zstd) << EOutcome::Fails << QByteArray();
    QTest::newRow("Zstandard skippable frame")
        << container(8, 3, QByteArray::fromHex("502a4d1803000000616263")) << EOutcome::Fails
        << QByteArray();
    // 300 bytes 'a' in one RLE block, in a frame that is not a single segment: its window
    // descriptor asks for 2^27 bytes (the limit) or 2^28.
    const QByteArray a300(300, 'a');
    QTest::newRow("Zstandard window of 128 MiB")
        << container(8, 300, QByteArray::fromHex("28b52ffd40882c0063090061")) << EOutcome::Decodes
        << a300;
    QTest::newRow("Zstandard window of 256 MiB")
        << container(8, 300, QByteArray::fromHex("28b52ffd40902c0063090061")) << EOutcome::Fails
        << QByteArray();
}

// Catches wrong framing, codecs that report corrupt data as success and fail to respect the
// declared size, a strict decode that does not throw, and a lenient decode that does.
void TContainerDecoderTest::decodesEveryShapeOfInput()
{
    QFETCH(QByteArray, input);
    QFETCH(EOutcome, outcome);
    QFETCH(QByteArray, expected);

    QCOMPARE(shared::isPackedContainer(input), outcome != EOutcome::NotContainer);
    switch (outcome) {
    case EOutcome::NotContainer:
        QCOMPARE(shared::decodeContainerStrict(input), input);
        break;
    case EOutcome::Decodes:
        QCOMPARE(shared::decodeContainerStrict(input), expected);
        QCOMPARE(shared::decodeContainerLenient(input), expected);
        return;
    case EOutcome::Fails:
        try {
            shared::decodeContainerStrict(input);
            QFAIL("strict decode returned");
        } catch (const shared::TDecompressionError& error) {
            QCOMPARE(QString(error.what()),
                     expected.isEmpty() ? QString("Invalid input data could not be decompressed")
                                        : QString(expected));
        }
        break;
    }
    QCOMPARE(shared::decodeContainerLenient(input), input);
}

void TContainerDecoderTest::varintsRoundTrip_data()
{
    QTest::addColumn<quint64>("value");
    QTest::addColumn<QByteArray>("encoded");
    QTest::newRow("300") << quint64(300) << QByteArray::fromHex("ac02");
    QTest::newRow("127") << quint64(127) << QByteArray::fromHex("7f");
    QTest::newRow("128") << quint64(128) << QByteArray::fromHex("8001");
    QTest::newRow("2^64 - 1") << ~quint64(0) << QByteArray::fromHex("ffffffffffffffffff01");
}

// Catches wrong group order or a lost top bit in the sizes of the header.
void TContainerDecoderTest::varintsRoundTrip()
{
    QFETCH(quint64, value);
    QFETCH(QByteArray, encoded);

    QByteArray written;
    shared::appendContainerVarint(written, value);
    QCOMPARE(written, encoded);
    shared::TContainerHeader header;
    const QByteArray bytes = QByteArray::fromHex("7003") + encoded + encoded;
    QCOMPARE(shared::readContainerHeader(bytes, header), shared::EContainerHeaderStatus::Valid);
    QCOMPARE(header.m_nCodecId, 3u);
    QCOMPARE(header.m_nUnpackedSize, value);
    QCOMPARE(header.m_nPackedSize, value);
    QCOMPARE(header.m_nPayloadOffset, static_cast<std::size_t>(bytes.size()));
}

void TContainerDecoderTest::unpackClearsWhatTheStreamLeavesOver_data()
{
    QTest::addColumn<unsigned>("codecId");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray tail(7, '\0');
    QTest::newRow("DEFLATE") << 3u << payloadOf(EContainerCodec::Deflate, kText) << kText + tail;
    QTest::newRow("lzip") << 4u << payloadOf(EContainerCodec::Lzip, kText) << kText + tail;
    QTest::newRow("LZMA") << 5u << payloadOf(EContainerCodec::Lzma, kText) << kText;
    QTest::newRow("ZPAQ") << 6u << payloadOf(EContainerCodec::Zpaq, kText) << kText + tail;
    QTest::newRow("stored") << 0u << kText << kText;
}

// Catches stale bytes of the output buffer in a result longer than what the stream produced
// (the buffer here is dirty on purpose; a fresh allocation is often clean by chance).
void TContainerDecoderTest::unpackClearsWhatTheStreamLeavesOver()
{
    QFETCH(unsigned, codecId);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, expected);

    QByteArray output(kText.size() + 7, '\xaa');
    std::uint64_t length = static_cast<std::uint64_t>(output.size());
    QVERIFY(shared::unpackContainer(codecId, payload.constData(),
                                    static_cast<quint64>(payload.size()), output.data(), length));
    QCOMPARE(output.left(static_cast<int>(length)), expected);
}

// Catches a compressed blob that hands out the stored container, or one that throws for a
// container that does not decode.
void TContainerDecoderTest::compressedBlobDecodesLeniently()
{
    QTemporaryDir directory;
    QVERIFY(directory.isValid());
    const QByteArray packed = shared::makeContainer(kText, EContainerCodec::Lzip);
    const QByteArray corrupt = container(1, 3, kAbc);
    for (const QByteArray& content : {packed, corrupt}) {
        QFile file(directory.filePath("data.bin.lzma"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), qint64(content.size()));
        file.close();
        const shared::TLZMACompressedReadOnlyMemoryBlob blob(file.fileName());
        QCOMPARE(blob.getData(), content == packed ? kText : corrupt);
    }
}

QTEST_GUILESS_MAIN(TContainerDecoderTest)
#include "tst_containerdecoder.moc"
