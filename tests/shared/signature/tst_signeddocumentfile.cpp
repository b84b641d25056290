#include "shared/signature/signeddocumentfile.h"

#include "testfiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using testsupport::readBytes;
using testsupport::writeBytes;

class TestSignedDocumentFile : public QObject
{
    Q_OBJECT

private slots:
    // Replaced one after the other, a crash between the two files left a new document beside
    // the old signature, and the offline start refused a copy that was intact. Every state the
    // replacement passes through must read back as the old pair or the new one.
    void everyCrashStateReadsAsAPair_data()
    {
        QTest::addColumn<QStringList>("present"); // what the replacement had written
        QTest::addColumn<bool>("becomesNew");
        QTest::newRow("nothing written yet") << QStringList{} << false;
        QTest::newRow("new document beside") << QStringList{"next"} << false;
        QTest::newRow("new pair beside") << QStringList{"next", "next.sig"} << true;
        QTest::newRow("document in place") << QStringList{"doc", "next.sig"} << true;
        QTest::newRow("pair in place") << QStringList{"doc", "sig"} << true;
    }
    void everyCrashStateReadsAsAPair()
    {
        QFETCH(QStringList, present);
        QFETCH(bool, becomesNew);
        QTemporaryDir folder;
        const QString path = folder.filePath("launchermetadata.json");
        const QHash<QString, QString> names{{"doc", path},
                                            {"sig", path + ".sig"},
                                            {"next", path + ".next"},
                                            {"next.sig", path + ".next.sig"}};
        QVERIFY(writeBytes(path, "old"));
        QVERIFY(writeBytes(path + ".sig", "old signature"));
        for (const QString& name : present)
            QVERIFY(writeBytes(names[name], name.endsWith("sig") ? "new signature" : "new"));

        shared::signature::completeSignedDocumentReplacement(path);
        const QByteArray expected = becomesNew ? "new" : "old";
        QCOMPARE(readBytes(path), expected);
        QCOMPARE(readBytes(path + ".sig"), expected + " signature");
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files).size(), 2);
    }

    void replacesThePair()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath("launchermetadata.json");
        QVERIFY(writeBytes(path, "old"));
        shared::signature::replaceSignedDocument(path, "new", "new signature");
        QCOMPARE(readBytes(path), QByteArray("new"));
        QCOMPARE(readBytes(path + ".sig"), QByteArray("new signature"));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files).size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestSignedDocumentFile)
#include "tst_signeddocumentfile.moc"
