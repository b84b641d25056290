#include "installationfixture.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace installationfixture;
using orvik::launcher::EPackageDownloaderError;
using orvik::launcher::TPackageInstallation;
using testsupport::writeBytes;

class TestPackageVerification : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_pRoot = std::make_unique<QTemporaryDir>();
        QVERIFY(m_pRoot->isValid());
        m_Installation = m_pRoot->path() + QStringLiteral("/a/b/inst");
        QVERIFY(QDir().mkpath(m_Installation));
        QVERIFY(QDir().mkpath(m_pRoot->path() + QStringLiteral("/app")));
    }

    void verification_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<bool>("expected");
        QTest::newRow("intact") << "" << true;
        // The flipped byte lies in the second 10 MiB piece: every piece must reach the digest.
        QTest::newRow("flipped byte") << "flip" << false;
        QTest::newRow("missing file") << "remove" << false;
        // The document's "../../" path must be read inside the installation, where the file is
        // missing, not from the intact copy outside it.
        QTest::newRow("climbing path") << "climb" << false;
        QTest::newRow("empty list") << "nofiles" << true;
    }
    void verification()
    {
        QFETCH(QString, damage);
        QFETCH(bool, expected);
        const QByteArray small = pseudoRandom(4, 1000);
        const QByteArray large = pseudoRandom(5, int(11 * MiB));
        TDocument document;
        if (damage != QLatin1String("nofiles")) {
            document.addWholeFile(QStringLiteral("small.bin"), small);
            document.addWholeFile(QStringLiteral("sub/large.bin"), large);
            QVERIFY(writeBytes(m_Installation + "/small.bin", small));
            QVERIFY(writeBytes(m_Installation + "/sub/large.bin", large));
        }
        if (damage == QLatin1String("flip")) {
            QByteArray flipped = large;
            flipped[int(10 * MiB) + 5] = char(flipped[int(10 * MiB) + 5] ^ 0x80);
            QVERIFY(writeBytes(m_Installation + "/sub/large.bin", flipped));
        } else if (damage == QLatin1String("remove")) {
            QVERIFY(QFile::remove(m_Installation + "/small.bin"));
        } else if (damage == QLatin1String("climb")) {
            document.addWholeFile(QStringLiteral("../../outside.bin"), small);
            QVERIFY(writeBytes(m_pRoot->path() + "/a/outside.bin", small));
        }

        const auto installation = makeInstallation(
            helperWithSettings(m_pRoot->path() + QStringLiteral("/app"), false), m_Installation);
        std::vector<std::pair<TFileSize, TFileSize>> progress;
        QObject receiver;
        connect(
            installation.get(), &TPackageInstallation::verificationProgress, &receiver,
            [&](TFileSize done, TFileSize total) {
                progress.push_back({done, total});
            },
            Qt::QueuedConnection);
        QSignalSpy finished(installation.get(), &TPackageInstallation::verificationFinished);
        installation->startVerification(document.reader(), true);
        QVERIFY(finished.wait(60000));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(installation->isWithoutError(), expected);
        QCOMPARE(installation->getErrorReason(), expected
                                                     ? EPackageDownloaderError::NoError
                                                     : EPackageDownloaderError::VerificationFailed);
        if (damage == QLatin1String("intact")) {
            const TFileSize total = TFileSize(small.size() + large.size());
            QVERIFY(!progress.empty());
            QCOMPARE(progress.back(), std::make_pair(total, total));
        }
        if (damage == QLatin1String("nofiles"))
            QVERIFY(progress.empty());
    }

    // skipVerification only skips the automatic check after a download, never the user's.
    void skipSetting_data()
    {
        QTest::addColumn<bool>("skipSetting");
        QTest::addColumn<bool>("force");
        QTest::addColumn<bool>("expected");
        QTest::newRow("skipped after a download") << true << false << true;
        QTest::newRow("user's verify reads anyway") << true << true << false;
        QTest::newRow("not skipped without the setting") << false << false << false;
    }
    void skipSetting()
    {
        QFETCH(bool, skipSetting);
        QFETCH(bool, force);
        QFETCH(bool, expected);
        TDocument document;
        document.addWholeFile(QStringLiteral("missing.bin"), "content");
        const auto installation = makeInstallation(
            helperWithSettings(m_pRoot->path() + QStringLiteral("/app"), skipSetting),
            m_Installation);
        QSignalSpy finished(installation.get(), &TPackageInstallation::verificationFinished);
        installation->startVerification(document.reader(), force);
        if (finished.isEmpty())
            QVERIFY(finished.wait(60000));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(installation->isWithoutError(), expected);
    }

private:
    std::unique_ptr<QTemporaryDir> m_pRoot;
    QString m_Installation;
};

QTEST_GUILESS_MAIN(TestPackageVerification)
#include "tst_packageverification.moc"
