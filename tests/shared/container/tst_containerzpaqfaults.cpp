#include "shared/container/containercodec.h"
#include "shared/container/containerdecoder.h"
#include "shared/container/containerheader.h"
#include "shared/container/containerwriter.h"
#include "shared/filesystemhelper/decompressionerror.h"

#include <QtTest>

namespace {

// A minimal ZPAQ block (one constant component) whose context program "a++ a++ halt" was
// turned into "jmp -2 halt": a jump onto itself, run after the first decoded byte.
const QByteArray kLoopingStream =
    QByteArray::fromHex("376b5374a03183d38cb228b0d37a50510101 0c00 00000000 01 0180 00 3ffe38 00"
                        "01 00 00 00 ff9ea4fc89aa0000000000 fe ff");

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

QTEST_GUILESS_MAIN(TContainerZpaqFaultsTest)
#include "tst_containerzpaqfaults.moc"
