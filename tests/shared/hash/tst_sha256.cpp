#include "shared/hash/sha256.h"

#include <QtTest>

class TestSha256 : public QObject
{
    Q_OBJECT

private slots:
    void knownDigests_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("hexDigest");
        QTest::newRow("empty") << QByteArray()
                               << QByteArray("e3b0c44298fc1c149afbf4c8996fb924"
                                             "27ae41e4649b934ca495991b7852b855");
        QTest::newRow("abc") << QByteArray("abc")
                             << QByteArray("ba7816bf8f01cfea414140de5dae2223"
                                           "b00361a396177a9cb410ff61f20015ad");
        QTest::newRow("two blocks")
            << QByteArray("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")
            << QByteArray("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    }
    void knownDigests()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, hexDigest);
        QCOMPARE(shared::sha256(input).toHex(), hexDigest);

        // Streaming in uneven pieces must give the one-shot digest.
        shared::TSha256 hash;
        for (int i = 0; i < input.size(); i += 7)
            hash.addData(input.mid(i, 7));
        QCOMPARE(hash.result().toHex(), hexDigest);
        // A result starts the next digest from scratch: chunks are hashed back to back.
        hash.addData(input);
        QCOMPARE(hash.result().toHex(), hexDigest);
    }
};

QTEST_GUILESS_MAIN(TestSha256)
#include "tst_sha256.moc"
