#include "shared/hash/sha256.h"
#include "shared/hash/streamsha256.h"

#include <QtTest>

class TestStreamSha256 : public QObject
{
    Q_OBJECT

private slots:
    // The padding is this hasher's own: a length that leaves no room for the bit count in the
    // last block (56 to 63 bytes over), or one that fills it exactly, takes an extra block.
    void matchesTheLibrary_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("pieceSize");
        for (const int length : {0, 3, 55, 56, 63, 64, 65, 119, 120, 128, 100000})
            for (const int pieceSize : {1, 7, 64, 1000})
                QTest::addRow("%d bytes in pieces of %d", length, pieceSize) << length << pieceSize;
    }
    void matchesTheLibrary()
    {
        if (!shared::sha256RoundsAvailable())
            QSKIP("this processor has no SHA extensions");
        QFETCH(int, length);
        QFETCH(int, pieceSize);
        QByteArray input(length, Qt::Uninitialized);
        for (int i = 0; i < length; ++i)
            input[i] = char(i * 131 + i / 251);
        shared::TStreamSha256 hash;
        // Twice: a result must start the next digest from scratch.
        for (int round = 0; round < 2; ++round) {
            for (int i = 0; i < length; i += pieceSize)
                hash.addData(reinterpret_cast<const unsigned char*>(input.constData()) + i,
                             std::size_t(std::min(pieceSize, length - i)));
            QCOMPARE(hash.result().toHex(), shared::sha256(input).toHex());
        }
    }
};

QTEST_GUILESS_MAIN(TestStreamSha256)
#include "tst_streamsha256.moc"
