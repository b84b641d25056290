#include "shared/container/containercodec.h"
#include "shared/container/containerheader.h"
#include "shared/container/containerpieces.h"
#include "shared/container/containerwriter.h"
#include "shared/filesystemhelper/decompressionerror.h"

#include <QtTest>

namespace {

QByteArray varied(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    }
    return bytes;
}

QByteArray withPayload(const QByteArray& container, const QByteArray& payload, quint64 declared)
{
    shared::TContainerHeader header;
    shared::readContainerHeader(container, header);
    QByteArray bytes = container.left(2);
    shared::appendContainerVarint(bytes, declared);
    shared::appendContainerVarint(bytes, static_cast<quint64>(payload.size()));
    return bytes + payload;
}

QByteArray payloadOf(const QByteArray& container)
{
    shared::TContainerHeader header;
    shared::readContainerHeader(container, header);
    return container.mid(static_cast<int>(header.m_nPayloadOffset));
}

} // namespace

// The piece-by-piece decoder that writes large files downloaded whole: it must hand over exactly
// the content, in order, and fail on anything a swapped or damaged body could hold.
class TContainerPiecesTest : public QObject
{
    Q_OBJECT

private slots:
    void decodesOrFails_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<quint64>("expectedSize");
        QTest::addColumn<QByteArray>("expected"); // empty: must fail
        const QByteArray data = varied(3 << 20);
        const QByteArray zstd = shared::makeContainer(data, shared::EContainerCodec::Zstd);
        const QByteArray stored = shared::makeContainer(data, shared::EContainerCodec::Stored);
        const QByteArray frame = payloadOf(zstd);
        QTest::newRow("zstd") << zstd << quint64(data.size()) << data;
        QTest::newRow("stored, several pieces") << stored << quint64(data.size()) << data;
        QTest::newRow("zstd, other size expected") << zstd << quint64(100) << QByteArray();
        QTest::newRow("zstd frame cut short")
            << withPayload(zstd, frame.left(frame.size() - 9), quint64(data.size()))
            << quint64(data.size()) << QByteArray();
        QTest::newRow("zstd frame with trailing bytes")
            << withPayload(zstd, frame + "xx", quint64(data.size())) << quint64(data.size())
            << QByteArray();
        QTest::newRow("lzma has no piecewise decoder")
            << shared::makeContainer(data.left(1000), shared::EContainerCodec::Lzma)
            << quint64(1000) << QByteArray();
    }

    // Catches a decoder that hands out a cut or padded frame, or content of another size than
    // the document's, as a success.
    void decodesOrFails()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(quint64, expectedSize);
        QFETCH(QByteArray, expected);
        QByteArray decoded;
        int pieces = 0;
        bool failed = false;
        try {
            shared::decodeContainerPiecewise(bytes, expectedSize,
                                             [&](const char* data, std::size_t length) {
                                                 decoded.append(data, static_cast<int>(length));
                                                 QVERIFY(length <= (std::size_t(1) << 20));
                                                 ++pieces;
                                             });
        } catch (const shared::TDecompressionError&) {
            failed = true;
        }
        if (expected.isEmpty()) {
            QVERIFY(failed);
            return;
        }
        QVERIFY(!failed);
        QVERIFY(shared::isPiecewiseDecodable(bytes));
        QCOMPARE(decoded, expected);
        QVERIFY(pieces > 1);
    }
};

QTEST_GUILESS_MAIN(TContainerPiecesTest)
#include "tst_containerpieces.moc"
