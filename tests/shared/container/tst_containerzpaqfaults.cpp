#include "shared/container/containercodec.h"
#include "shared/container/containerdecoder.h"
#include "shared/container/containerheader.h"
#include "shared/container/containerwriter.h"
#include "shared/filesystemhelper/decompressionerror.h"

#include "memorypeak.h"

#include <QtTest>

namespace {

// A minimal ZPAQ block (one constant component) whose context program "a++ a++ halt" was
// turned into "jmp -2 halt": a jump onto itself, run after the first decoded byte.
const QByteArray kLoopingStream =
    QByteArray::fromHex("376b5374a03183d38cb228b0d37a50510101 0c00 00000000 01 0180 00 3ffe38 00"
                        "01 00 00 00 ff9ea4fc89aa0000000000 fe ff");

// A block whose model is four context models of 2^27, 2^26, 2^25 and 2^24 entries of four bytes:
// 960 MiB that the decoder fills before the first byte, followed by Filler bytes of coded data.
QByteArray streamAskingFor960MiB(int filler)
{
    QByteArray stream = QByteArray::fromHex("376b5374a03183d38cb228b0d37a50510101"
                                            "1400 00000000 04 021bff 021aff 0219ff 0218ff 00"
                                            "38 00 01000000");
    for (int i = 0; i < filler; ++i) {
        stream += static_cast<char>((i * 151 + 7) & 0xff);
    }
    return stream + QByteArray::fromHex("00000000feff");
}

QByteArray container(quint64 unpackedSize, const QByteArray& payload)
{
    QByteArray bytes = QByteArray::fromHex("7006");
    shared::appendContainerVarint(bytes, unpackedSize);
    shared::appendContainerVarint(bytes, static_cast<quint64>(payload.size()));
    return bytes + payload;
}

QByteArray zpaqPayload(const QByteArray& data, int level)
{
    const QByteArray packed = shared::makeContainer(data, shared::EContainerCodec::Zpaq, level);
    shared::TContainerHeader header;
    shared::readContainerHeader(packed, header);
    return packed.mid(static_cast<int>(header.m_nPayloadOffset));
}

bool strictDecodeThrows(const QByteArray& bytes, QByteArray* decoded = nullptr)
{
    try {
        const QByteArray result = shared::decodeContainerStrict(bytes);
        if (decoded) {
            *decoded = result;
        }
        return false;
    } catch (const shared::TDecompressionError&) {
        return true;
    }
}

} // namespace

class TContainerZpaqFaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void truncatedStreamsFail_data();
    void truncatedStreamsFail();
    void bitFlipsFailOrDecodeExactly_data();
    void bitFlipsFailOrDecodeExactly();
    void programThatNeverHaltsFails();
    void modelMemoryIsBoundByTheDeclaredSize_data();
    void modelMemoryIsBoundByTheDeclaredSize();
};

void TContainerZpaqFaultsTest::truncatedStreamsFail_data()
{
    QTest::addColumn<int>("level");
    QTest::newRow("level 1") << 1;
    QTest::newRow("level 3") << 3;
}

// Catches a decoder whose fatal errors end the process, and one that takes a cut stream for a
// complete one.
void TContainerZpaqFaultsTest::truncatedStreamsFail()
{
    QFETCH(int, level);
    const QByteArray data = QByteArray("ZPAQ keeps its model in the stream. ").repeated(30);
    const QByteArray payload = zpaqPayload(data, level);
    QCOMPARE(shared::decodeContainerStrict(container(quint64(data.size()), payload)), data);
    for (int length = 1; length < payload.size(); ++length) {
        const QByteArray cut = container(quint64(data.size()), payload.left(length));
        QVERIFY2(strictDecodeThrows(cut), qPrintable(QString("length %1").arg(length)));
        QCOMPARE(shared::decodeContainerLenient(cut), cut);
    }
}

void TContainerZpaqFaultsTest::bitFlipsFailOrDecodeExactly_data()
{
    truncatedStreamsFail_data();
}

// Catches a decoder that ends the process on a corrupt stream and one that hands out corrupted
// data as success: a flip may only fail or leave the content intact (a checksum or a comment).
void TContainerZpaqFaultsTest::bitFlipsFailOrDecodeExactly()
{
    QFETCH(int, level);
    const QByteArray data = QByteArray("Every flipped bit must be noticed. ").repeated(20);
    const QByteArray payload = zpaqPayload(data, level);
    int failures = 0;
    for (int offset = 0; offset < payload.size(); ++offset) {
        QByteArray flipped = payload;
        flipped[offset] = static_cast<char>(flipped[offset] ^ (1 << (offset % 8)));
        QByteArray decoded;
        if (strictDecodeThrows(container(quint64(data.size()), flipped), &decoded)) {
            ++failures;
        } else {
            QVERIFY2(decoded == data, qPrintable(QString("offset %1").arg(offset)));
        }
    }
    // Nearly every flip lands in coded data; this guards against a loop that tested nothing.
    QVERIFY(failures > payload.size() / 2);
}

// Catches a stream whose own program spins forever and hangs the decoding thread for good.
void TContainerZpaqFaultsTest::programThatNeverHaltsFails()
{
    QByteArray halting = kLoopingStream;
    halting.replace(QByteArray::fromHex("3ffe38"), QByteArray::fromHex("010138"));
    QCOMPARE(shared::decodeContainerStrict(container(3, halting)), QByteArray("abc"));

    QVERIFY(strictDecodeThrows(container(3, kLoopingStream)));
}

void TContainerZpaqFaultsTest::modelMemoryIsBoundByTheDeclaredSize_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("expected"); // empty: must fail
    QTest::addColumn<qint64>("maxPeakGrowthMiB");
    const QByteArray data = QByteArray("The strongest level keeps a large model. ").repeated(100);
    QTest::newRow("960 MiB model for 4 KiB")
        << container(4096, streamAskingFor960MiB(4000)) << QByteArray() << qint64(64);
    QTest::newRow("strongest level for 4 KiB")
        << container(quint64(data.size()), zpaqPayload(data, 5)) << data << qint64(200);
}

// Catches a decoder that allocates whatever model a swapped body asks for: a 4 KiB body whose
// model wanted 960 MiB was given it on every attempt. The peak is read from the kernel, as an
// allocation that is made and freed again leaves nothing else to see.
void TContainerZpaqFaultsTest::modelMemoryIsBoundByTheDeclaredSize()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, expected);
    QFETCH(qint64, maxPeakGrowthMiB);
    QVERIFY(testsupport::resetPeakResident());
    const qint64 before = testsupport::peakResidentKiB();
    QByteArray decoded;
    const bool failed = strictDecodeThrows(bytes, &decoded);
    const qint64 growthKiB = testsupport::peakResidentKiB() - before;
    QVERIFY2(growthKiB < maxPeakGrowthMiB * 1024, qPrintable(QString::number(growthKiB)));
    if (expected.isEmpty()) {
        QVERIFY(failed);
    } else {
        QVERIFY(!failed);
        QCOMPARE(decoded, expected);
    }
}

QTEST_GUILESS_MAIN(TContainerZpaqFaultsTest)
#include "tst_containerzpaqfaults.moc"
