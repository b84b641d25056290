#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/settings/launchersettings.h"

#include "testfiles.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using orvik::launcher::TLauncherFilesystemHelper;
using orvik::launcher::TLauncherSettings;

class TestLauncherSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { testsupport::useLauncherIdentity(); }

    void init()
    {
        m_pDir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_pDir->isValid());
    }

    void compiledInDefaults()
    {
        // No file beside the (test) executable: the compiled-in file and the code defaults.
        const TLauncherFilesystemHelper helper(m_pDir->path());
        const auto s = helper.settings();
        QCOMPARE(s->launcherConfiguration.scheme(), QString("https"));
        QCOMPARE(s->launcherConfiguration.path(), QString("/launcher/qormetadata.json"));
        QVERIFY(!s->cdnDiagnosticsTrace.isValid());
        QCOMPARE(s->appendNocacheToPackageUrls, false);
        QCOMPARE(s->packages, QString("packages"));
        QCOMPARE(s->settingsTarget, QString("KestrunOnlineClient_Data/Data/Settings"));
        QCOMPARE(s->packageFile, QString("package.json"));
        QCOMPARE(s->partialPackageFile, QString("partial-package.json"));
        QCOMPARE(s->assetFile, QString("assets.json"));
        QCOMPARE(s->accountGroupFile, QString("accountgroup.json"));
        QCOMPARE(s->waitNotificationTimeout, 500);
        QCOMPARE(s->downloadErrorTimeout, 10000);
        QCOMPARE(s->clientStartTimeout, 30000);
        QCOMPARE(s->maxCachedChunks, 100);
        QCOMPARE(s->maxConcurrentDownloads, 10);
        QCOMPARE(s->skipVerification, true);
        QCOMPARE(s->fastScan, true);
        QCOMPARE(s->chunkVerification, false);
        QCOMPARE(s->telemetry, true);
        // A compiled-in key would refuse every tree a studio publishes without one.
        QVERIFY(s->documentPublicKey.isEmpty());
    }

    void fileBesideExecutableReplacesCompiledInFile()
    {
        // Values missing from the user's file take the code defaults, never the compiled-in ones.
        QVERIFY(testsupport::writeBytes(iniPath(), "[OPTIONS]\nmaxConcurrentDownloads=3\n"));
        const TLauncherFilesystemHelper helper(m_pDir->path());
        const auto s = helper.settings();
        QCOMPARE(s->maxConcurrentDownloads, 3);
        QVERIFY(s->launcherConfiguration.isEmpty());
        QVERIFY(s->packages.isEmpty());
        QVERIFY(s->packageFile.isEmpty());
        QVERIFY(s->accountGroupFile.isEmpty());
        QCOMPARE(s->waitNotificationTimeout, 0);
        QCOMPARE(s->downloadErrorTimeout, 0);
        QCOMPARE(s->maxCachedChunks, 100);
        QCOMPARE(s->fastScan, true);
    }

    void everyKeyIsRead()
    {
        QVERIFY(testsupport::writeBytes(
            iniPath(), "[URLS]\n"
                       "launcherConfiguration=http://127.0.0.1:1/launcher/qormetadata.json\n"
                       "cdnDiagnosticsTrace=http://127.0.0.1:2/trace\n"
                       "appendNocacheToPackageUrls=1\n"
                       "[DIRECTORIES]\n"
                       "packages=pk\n"
                       "settingsTarget=st\n"
                       "[FILES]\n"
                       "packageFile=p.json\n"
                       "partialPackageFile=pp.json\n"
                       "assetFile=a.json\n"
                       "accountGroupFile=g.json\n"
                       "[TIMING]\n"
                       "waitNotificationTimeout=-1\n"
                       "downloadErrorTimeout=2147483647\n"
                       "clientStartTimeout=7\n"
                       "stallTimeout=9\n"
                       "[OPTIONS]\n"
                       "fastScan=false\n"
                       "skipVerification=false\n"
                       "maxCachedChunks=5\n"
                       "maxConcurrentDownloads=4\n"
                       "telemetry=false\n"
                       "[DEBUG]\n"
                       "chunkVerification=true\n"
                       "[SECURITY]\n"
                       "documentPublicKey=ab+/cd==\n"
                       "channel=live\n"));
        const auto s = TLauncherFilesystemHelper(m_pDir->path()).settings();
        QCOMPARE(s->launcherConfiguration, QUrl("http://127.0.0.1:1/launcher/qormetadata.json"));
        QCOMPARE(s->cdnDiagnosticsTrace, QUrl("http://127.0.0.1:2/trace"));
        QCOMPARE(s->appendNocacheToPackageUrls, true);
        QCOMPARE(s->packages, QString("pk"));
        QCOMPARE(s->settingsTarget, QString("st"));
        QCOMPARE(s->packageFile, QString("p.json"));
        QCOMPARE(s->partialPackageFile, QString("pp.json"));
        QCOMPARE(s->assetFile, QString("a.json"));
        QCOMPARE(s->accountGroupFile, QString("g.json"));
        QCOMPARE(s->waitNotificationTimeout, -1); // widened with its sign
        QCOMPARE(s->downloadErrorTimeout, 2147483647);
        QCOMPARE(s->clientStartTimeout, 7);
        QCOMPARE(s->stallTimeout, 9);
        QCOMPARE(s->fastScan, false);
        QCOMPARE(s->skipVerification, false);
        QCOMPARE(s->maxCachedChunks, 5);
        QCOMPARE(s->maxConcurrentDownloads, 4);
        QCOMPARE(s->chunkVerification, true);
        QCOMPARE(s->telemetry, false);
        // Base64 keeps its "+", "/" and "=" through the INI reader.
        QCOMPARE(s->documentPublicKey, QString("ab+/cd=="));
        QCOMPARE(s->channel, QString("live"));
        QVERIFY(s->notes.isEmpty());
    }

    void unreadableValuesTakeNullResults()
    {
        QVERIFY(testsupport::writeBytes(
            iniPath(), "[TIMING]\nwaitNotificationTimeout=soon\n[URLS]\ncdnDiagnosticsTrace=\n"
                       "appendNocacheToPackageUrls=true\n"));
        const auto s = TLauncherFilesystemHelper(m_pDir->path()).settings();
        QCOMPARE(s->waitNotificationTimeout, 0);
        QVERIFY(!s->cdnDiagnosticsTrace.isValid());
        QCOMPARE(s->appendNocacheToPackageUrls, true);
    }

    void downloadRateLimit_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("absent") << QByteArray() << qint64(0);
        QTest::newRow("2 MB/s") << QByteArray("maxDownloadRate=2000000") << qint64(2000000);
        // Past 32 bits: a narrow read would wrap it into a small or negative limit.
        QTest::newRow("6 GB/s") << QByteArray("maxDownloadRate=6000000000") << qint64(6000000000);
        QTest::newRow("negative") << QByteArray("maxDownloadRate=-5") << qint64(0);
        QTest::newRow("not a number") << QByteArray("maxDownloadRate=fast") << qint64(0);
    }

    void downloadRateLimit()
    {
        QFETCH(QByteArray, line);
        QFETCH(qint64, expected);
        QVERIFY(testsupport::writeBytes(iniPath(), "[OPTIONS]\n" + line + "\n"));
        QCOMPARE(TLauncherFilesystemHelper(m_pDir->path()).settings()->maxDownloadRate, expected);
    }

    void groupNamesDifferingOnlyInCase_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("key");     // as read
        QTest::addColumn<QString>("address"); // of the configuration, as read
        QTest::addColumn<QStringList>("notes");
        QTest::newRow("security in lower case")
            << QByteArray("[security]\ndocumentPublicKey=ab+/cd==\n") << "ab+/cd=="
            << "" << QStringList{"Settings group [security] taken as [SECURITY]"};
        QTest::newRow("urls capitalised")
            << QByteArray("[Urls]\nlauncherConfiguration=http://127.0.0.1:1/c.json\n") << ""
            << "http://127.0.0.1:1/c.json" << QStringList{"Settings group [Urls] taken as [URLS]"};
        // The group as the launcher spells it keeps its keys; the other adds its own.
        QTest::newRow("both spellings")
            << QByteArray("[SECURITY]\ndocumentPublicKey=ab==\n[security]\ndocumentPublicKey="
                          "cd==\n[urls]\nlauncherConfiguration=http://127.0.0.1:2/c.json\n")
            << "ab=="
            << "http://127.0.0.1:2/c.json"
            << QStringList{"Settings group [urls] taken as [URLS]",
                           "Settings group [security] taken as [SECURITY]"};
        QTest::newRow("known spellings only")
            << QByteArray("[SECURITY]\ndocumentPublicKey=ab==\n[Other]\nx=1\n") << "ab=="
            << "" << QStringList();
    }
    // Catches a group read only in the case the launcher spells it: "[security]" meant no key
    // at all, and every unsigned tree was installed.
    void groupNamesDifferingOnlyInCase()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, key);
        QFETCH(QString, address);
        QVERIFY(testsupport::writeBytes(iniPath(), ini));
        const auto s = TLauncherFilesystemHelper(m_pDir->path()).settings();
        QCOMPARE(s->documentPublicKey, key);
        QCOMPARE(s->documentPublicKeyGiven, !key.isEmpty());
        QCOMPARE(s->launcherConfiguration, QUrl(address));
        QFETCH(QStringList, notes);
        QCOMPARE(s->notes, notes);
    }

    void malformedFileYieldsDefaults()
    {
        QVERIFY(testsupport::writeBytes(iniPath(), QByteArray("\x00\xff[[[=\n", 7)));
        const auto s = TLauncherFilesystemHelper(m_pDir->path()).settings();
        QVERIFY(s->launcherConfiguration.isEmpty());
        QCOMPARE(s->maxConcurrentDownloads, 10);
    }

    void accountGroupPaths()
    {
        TLauncherFilesystemHelper helper(m_pDir->path());
        QCOMPARE(helper.accountGroupRelativePath(),
                 QString("KestrunOnlineClient_Data/Data/Settings/accountgroup.json"));
        QVERIFY(helper.accountGroupFilePath().isEmpty()); // fixed on first use only
        QVERIFY(!helper.accountGroupFileExists());
        const QString expected = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
                                 "/accountgroup.json";
        QCOMPARE(helper.accountGroupFilePath(), expected);
        QVERIFY(expected.startsWith(qEnvironmentVariable("XDG_DATA_HOME")));
        QVERIFY(testsupport::writeBytes(expected, "{}"));
        QVERIFY(helper.accountGroupFileExists());
    }

private:
    QString iniPath() const { return m_pDir->filePath("launchersettings.ini"); }

    std::unique_ptr<QTemporaryDir> m_pDir;
};

QTEST_GUILESS_MAIN(TestLauncherSettings)
#include "tst_launchersettings.moc"
