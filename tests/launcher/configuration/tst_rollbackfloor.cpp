#include "launcher/configuration/rollbackfloor.h"
#include "launcher/configuration/signaturepolicy.h"
#include "shared/filesystemhelper/filesystemhelper.h"
#include "shared/signature/documentsignature.h"

#include "testfiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using orvik::launcher::TRollbackFloor;
using orvik::launcher::TSignaturePolicy;
using testsupport::readBytes;
using testsupport::writeBytes;

namespace {

QByteArray bound(qint64 serial)
{
    return "{\"packages\": [], \"trust\": {\"serial\": " + QByteArray::number(serial) +
           ", \"expires\": \"2027-01-06T12:00:00Z\", \"documents\": {}}}";
}

} // namespace

class TestRollbackFloor : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_pDir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_pDir->isValid());
    }

    void highestOfEverySignedHolder_data()
    {
        QTest::addColumn<QString>("stored");    // the serial file: "none", "folder" or its text
        QTest::addColumn<QString>("localCopy"); // "none", "signed N", "other key N", "changed N"
        QTest::addColumn<qint64>("floor");
        QTest::addColumn<QString>("holder");
        const QString file = "launchermetadata.serial";
        const QString copy = "launchermetadata.json";
        QTest::newRow("nothing held") << "none"
                                      << "none" << qint64(-1) << file;
        QTest::newRow("the serial file alone") << "150\n"
                                               << "none" << qint64(150) << file;
        QTest::newRow("the local copy above the file") << "150\n"
                                                       << "signed 200" << qint64(200) << copy;
        QTest::newRow("the file above the local copy") << "300\n"
                                                       << "signed 200" << qint64(300) << file;
        QTest::newRow("the file deleted") << "none"
                                          << "signed 200" << qint64(200) << copy;
        QTest::newRow("the file emptied") << ""
                                          << "signed 200" << qint64(200) << copy;
        QTest::newRow("the file damaged") << "2\xff"
                                          << "signed 200" << qint64(200) << copy;
        QTest::newRow("a folder in the file's place") << "folder"
                                                      << "signed 200" << qint64(200) << copy;
        // A copy the key did not sign as it is could carry any serial: it would lock every
        // future configuration out.
        QTest::newRow("a copy signed by another key") << "none"
                                                      << "other key 900" << qint64(-1) << file;
        QTest::newRow("a copy changed after signing") << "150\n"
                                                      << "changed 900" << qint64(150) << file;
    }
    // Catches a floor that rests on one file: deleted, emptied or damaged, it let an older signed
    // configuration in although the signed local copy still carried the newer serial.
    void highestOfEverySignedHolder()
    {
        QFETCH(QString, stored);
        QFETCH(QString, localCopy);
        QFETCH(qint64, floor);
        QFETCH(QString, holder);
        if (stored == "folder")
            QVERIFY(QDir().mkpath(serialPath()));
        else if (stored != "none")
            QVERIFY(writeBytes(serialPath(), stored.toLatin1()));
        if (localCopy != "none") {
            const QStringList words = localCopy.split(' ');
            const QByteArray document = bound(words.last().toLongLong());
            const auto& keys = words.first() == "other" ? m_OtherKeys : m_Keys;
            QVERIFY(writeBytes(localCopyPath(), document));
            QVERIFY(writeBytes(localCopyPath() + ".sig",
                               shared::signature::signDocument(keys.PrivateKeyPem, document)));
            if (words.first() == "changed")
                QVERIFY(writeBytes(localCopyPath(), document + " "));
        }
        const auto held = makeFloor().highest(policy());
        QCOMPARE(held.Serial, floor);
        QCOMPARE(held.Holder, holder);
    }

    // Catches a floor that misses a new local copy a crash left beside the old one: the pair is
    // completed first, as every reader of it does.
    void replacementCutShortIsCompletedFirst()
    {
        for (const auto& [path, serial] :
             {std::pair{localCopyPath(), 200}, std::pair{localCopyPath() + ".next", 250}}) {
            const QByteArray document = bound(serial);
            QVERIFY(writeBytes(path, document));
            QVERIFY(writeBytes(path + ".sig",
                               shared::signature::signDocument(m_Keys.PrivateKeyPem, document)));
        }
        QCOMPARE(makeFloor().highest(policy()).Serial, qint64(250));
        QCOMPARE(readBytes(localCopyPath()), bound(250));
    }

    void raiseWritesOnlyAHigherSerial_data()
    {
        QTest::addColumn<QByteArray>("stored"); // empty: no file
        QTest::addColumn<qint64>("accepted");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("no file yet") << QByteArray() << qint64(5) << QByteArray("5\n");
        QTest::newRow("higher") << QByteArray("7\n") << qint64(9) << QByteArray("9\n");
        QTest::newRow("lower") << QByteArray("7\n") << qint64(5) << QByteArray("7\n");
        // The local copy may hold the serial already; the file is written all the same.
        QTest::newRow("damaged") << QByteArray("seven") << qint64(5) << QByteArray("5\n");
    }
    void raiseWritesOnlyAHigherSerial()
    {
        QFETCH(QByteArray, stored);
        QFETCH(qint64, accepted);
        QFETCH(QByteArray, after);
        if (!stored.isEmpty())
            QVERIFY(writeBytes(serialPath(), stored));
        makeFloor().raise(accepted);
        QCOMPARE(readBytes(serialPath()), after);
    }

private:
    QString serialPath() const { return m_pDir->filePath("launchermetadata.serial"); }
    QString localCopyPath() const { return m_pDir->filePath("launchermetadata.json"); }
    TRollbackFloor makeFloor()
    {
        return TRollbackFloor(m_FileSystem, serialPath(), localCopyPath());
    }
    TSignaturePolicy policy() const
    {
        return TSignaturePolicy(shared::signature::formatPublicKey(m_Keys.PublicKey), true);
    }

    std::unique_ptr<QTemporaryDir> m_pDir;
    shared::TFileSystemHelper m_FileSystem;
    const shared::signature::TKeyPair m_Keys = shared::signature::generateKeyPair();
    const shared::signature::TKeyPair m_OtherKeys = shared::signature::generateKeyPair();
};

QTEST_GUILESS_MAIN(TestRollbackFloor)
#include "tst_rollbackfloor.moc"
