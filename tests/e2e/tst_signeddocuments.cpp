// Signed documents with the real programs: the publisher signs what it writes, nginx serves the
// tree, and the real launcher, given the studio's public key, takes only what that key signed.
#include "buildpaths.h"
#include "launcherinstall.h"
#include "nginxserver.h"
#include "publishedgame.h"
#include "testfiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest>

using testsupport::readBytes;
using testsupport::TLauncherInstall;
using testsupport::TNginxServer;
using testsupport::TPublishedGame;
using testsupport::writeBytes;

namespace {

constexpr int kTimeoutMs = 60000;

QString packageDirectory()
{
    return testsupport::kestrunDataDirectory() + QStringLiteral("/packages/live");
}

// Everything the launcher wrote into the installation; the demo client's own record aside.
QMap<QString, QByteArray> installedFiles()
{
    QMap<QString, QByteArray> files = testsupport::filesBelow(packageDirectory());
    files.remove(QStringLiteral("democlient-runs.log"));
    return files;
}

bool flipByte(const QString& path, const QByteArray& near)
{
    QByteArray bytes = readBytes(path);
    const int at = bytes.indexOf(near);
    if (at < 0)
        return false;
    bytes[at] = char(bytes[at] ^ 0x20);
    return writeBytes(path, bytes);
}

} // namespace

class TestSignedDocuments : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<QProcess::ExitStatus>();
        if (!TNginxServer::isAvailable())
            QSKIP("nginx is not installed: run scripts/install-deps.sh");
        QVERIFY(m_Game.isValid());
        m_Key = m_Game.work() + "/studio.key";
        m_OtherKey = m_Game.work() + "/other.key";
        QString output;
        QVERIFY2(TPublishedGame::runTool(KESTRUN_PUBLISHER_BINARY, {"keygen", "--output", m_Key},
                                         output),
                 qPrintable(output));
        QVERIFY2(TPublishedGame::runTool(KESTRUN_PUBLISHER_BINARY,
                                         {"keygen", "--output", m_OtherKey}, output),
                 qPrintable(output));
        m_Game.setSigningKey(m_Key);
        QVERIFY2(m_Game.publishVersion("1", TPublishedGame::pseudoRandom(6 << 20, 3), output),
                 qPrintable(output));
        m_pServer = std::make_unique<TNginxServer>(m_Game.cdn());
        QVERIFY2(m_pServer->start(), qPrintable(m_pServer->error()));
        QVERIFY(m_Launcher.isValid());
        QVERIFY(m_Launcher.writeSettings(signedSettings(configurationUrl())));
    }

    // Catches a launcher that refuses what the studio signed, or keeps no signature beside the
    // local copies that an offline start needs.
    void signedTreeInstallsWithTheKey()
    {
        QCOMPARE(runLauncher(), 0);
        const QString directory = packageDirectory();
        QCOMPARE(readBytes(directory + "/package.json"), readBytes(m_Game.packageDocument("1")));
        for (const QString& document :
             {directory + "/package.json", directory + "/assets.json",
              testsupport::kestrunDataDirectory() + "/launchermetadata.json"})
            QVERIFY2(!readBytes(document + ".sig").isEmpty(), qPrintable(document));
        QCOMPARE(readBytes(directory + "/package.json.sig"),
                 readBytes(m_Game.packageDocument("1") + ".sig"));
    }

    void refusedPackageDocumentChangesNothing_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("logLine"); // a pattern
        QTest::newRow("package document changed by one byte after signing")
            << "flip"
            << "Package documents not used: \\S+/live/package-2\\.json signature does not match";
        QTest::newRow("documents signed by another key")
            << "other key"
            << "Package documents not used: \\S+/live/package-2-assets-12\\.json signature does "
               "not match";
        QTest::newRow("package signature missing")
            << "remove"
            << "Package documents not used: signature missing: \\S+/live/package-2\\.json\\.sig ";
    }
    // Catches an update that plans, deletes or downloads from a document the key did not sign:
    // the installed version 1 must stay exactly as it is.
    void refusedPackageDocumentChangesNothing()
    {
        QFETCH(QString, damage);
        QFETCH(QString, logLine);
        QString output;
        QVERIFY2(m_Game.makeBuild(TPublishedGame::pseudoRandom(6 << 20, 4), output),
                 qPrintable(output));
        m_Game.setSigningKey(damage == "other key" ? m_OtherKey : m_Key);
        QVERIFY2(m_Game.publish("2", output), qPrintable(output));
        m_Game.setSigningKey(m_Key);
        QVERIFY2(m_Game.configure("2", output), qPrintable(output));
        if (damage == "flip")
            QVERIFY(flipByte(m_Game.packageDocument("2"), "KestrunOnlineClient"));
        else if (damage == "remove")
            QVERIFY(QFile::remove(m_Game.packageDocument("2") + ".sig"));

        const auto before = installedFiles();
        QVERIFY(before.count("package.json"));
        // Headless, a first launch whose package cannot be installed ends with status 1.
        QCOMPARE(runLauncher(), 1);
        const QByteArray log = readBytes(TLauncherInstall::logFilePath());
        QVERIFY2(QString::fromUtf8(log).contains(QRegularExpression(logLine)),
                 log.right(3000).constData());
        QVERIFY(installedFiles() == before);
    }

    void refusedConfigurationFallsBackToTheLocalCopy_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("configuration changed by one byte") << "flip";
        QTest::newRow("configuration signature missing") << "remove";
    }
    // Catches a configuration taken without its signature, and a refusal that ends in the
    // maintenance box although a signed local copy is at hand.
    void refusedConfigurationFallsBackToTheLocalCopy()
    {
        QFETCH(QString, damage);
        const QString configuration = m_Game.cdn() + TPublishedGame::kConfigurationPath;
        const QByteArray original = readBytes(configuration);
        const QByteArray signature = readBytes(configuration + ".sig");
        if (damage == "flip")
            QVERIFY(flipByte(configuration, "live"));
        else
            QVERIFY(QFile::remove(configuration + ".sig"));
        const auto before = installedFiles();

        const int status = runLauncher();
        QVERIFY(writeBytes(configuration, original) &&
                writeBytes(configuration + ".sig", signature));
        const QByteArray log = readBytes(TLauncherInstall::logFilePath());
        QVERIFY2(log.contains("Launcher configuration refused: " +
                              configurationUrl().toString().toUtf8()),
                 log.right(3000).constData());
        QVERIFY(log.contains("Local copy of the launcher configuration loaded"));
        // Version 1 from the local copies, as installed: it starts.
        QCOMPARE(status, 0);
        QVERIFY(installedFiles() == before);
    }

    void offlineStartChecksTheLocalCopies_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<int>("status");
        QTest::newRow("local copies as stored") << "" << 0;
        QTest::newRow("installed package document changed") << "package" << 1;
        QTest::newRow("local configuration changed") << "configuration" << 1;
    }
    // Catches an offline start that trusts what lies on disk without its signature.
    void offlineStartChecksTheLocalCopies()
    {
        QFETCH(QString, damage);
        QFETCH(int, status);
        const QString package = packageDirectory() + "/package.json";
        const QString configuration =
            testsupport::kestrunDataDirectory() + "/launchermetadata.json";
        const QString damaged = damage == "package" ? package : configuration;
        const QByteArray original = readBytes(damaged);
        if (!damage.isEmpty())
            QVERIFY(flipByte(damaged, damage == "package" ? "KestrunOnlineClient" : "live"));
        // Nothing answers on this port: the launcher goes on with its local copies.
        QVERIFY(m_Launcher.writeSettings(
            signedSettings(QUrl("http://127.0.0.1:1/launcher/qormetadata.json"))));
        const int result = runLauncher();
        QVERIFY(m_Launcher.writeSettings(signedSettings(configurationUrl())));
        QVERIFY(writeBytes(damaged, original));
        QCOMPARE(result, status);
        const QByteArray log = readBytes(TLauncherInstall::logFilePath());
        if (damage == "package")
            QVERIFY2(log.contains("Package documents not used: " +
                                  QUrl::fromLocalFile(package).toString().toUtf8() +
                                  " signature does not match"),
                     log.right(3000).constData());
        if (damage == "configuration")
            QVERIFY2(log.contains("Local copy of the launcher configuration refused"),
                     log.right(3000).constData());
    }

    void replayedOrSwappedDocumentsKeepTheGame_data()
    {
        QTest::addColumn<QString>("served");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("logLine"); // a pattern
        QTest::newRow("the configuration of the earlier publish")
            << "older configuration" << 0
            << "Launcher configuration refused: \\S+ its serial \\d+ is older than the serial";
        // The signed local copy still carries the newer serial.
        QTest::newRow("the earlier configuration, the serial file deleted")
            << "older configuration, serial deleted" << 0
            << "Launcher configuration refused: \\S+ its serial \\d+ is older than the serial "
               "\\d+ already accepted \\(launchermetadata.json\\)";
        QTest::newRow("the earlier configuration, the serial file emptied")
            << "older configuration, serial emptied" << 0
            << "Launcher configuration refused: \\S+ its serial \\d+ is older than the serial "
               "\\d+ already accepted \\(launchermetadata.json\\)";
        QTest::newRow("the earlier package document at the current address")
            << "older package document" << 1
            << "Package documents not used: \\S+/live/package-5\\.json (size|digest) \\S* ?differs";
        // A body longer than its pinned size is cut off as it arrives.
        QTest::newRow("another package's document at the game's address")
            << "other package" << 1 << "/live/package-5\\.json.*(differs|is longer than)";
    }
    // Catches signatures that stop forgery but not replay: each document served here is the
    // studio's own and validly signed, and yet installing it would downgrade the game or replace
    // it with another package.
    void replayedOrSwappedDocumentsKeepTheGame()
    {
        QFETCH(QString, served);
        QFETCH(int, status);
        QFETCH(QString, logLine);
        QString output;
        m_Game.setSigningKey(m_Key);
        const QString configuration = m_Game.cdn() + TPublishedGame::kConfigurationPath;
        QVERIFY2(m_Game.makeBuild(TPublishedGame::pseudoRandom(6 << 20, 8), output),
                 qPrintable(output));
        QVERIFY2(m_Game.publish("4", output), qPrintable(output));
        QVERIFY2(m_Game.configure("4", output), qPrintable(output));
        const QByteArray olderConfiguration = readBytes(configuration);
        const QByteArray olderSignature = readBytes(configuration + ".sig");
        // Version 5 has a file that version 4 lacks: a downgrade would delete it.
        QVERIFY(writeBytes(m_Game.build() + "/only-in-5.txt", "new in version 5"));
        QVERIFY2(m_Game.publish("5", output), qPrintable(output));
        QVERIFY2(m_Game.configure("5", output), qPrintable(output));
        QCOMPARE(runLauncher(), 0);
        QVERIFY(installedFiles().count("only-in-5.txt"));

        if (served.startsWith("older configuration")) {
            QVERIFY(writeBytes(configuration, olderConfiguration) &&
                    writeBytes(configuration + ".sig", olderSignature));
            const QString serial = testsupport::kestrunDataDirectory() + "/launchermetadata.serial";
            if (served.endsWith("deleted"))
                QVERIFY(QFile::remove(serial));
            if (served.endsWith("emptied"))
                QVERIFY(writeBytes(serial, {}));
        } else {
            QString replacement = m_Game.packageDocument("4");
            if (served == "other package") {
                QVERIFY2(TPublishedGame::runTool(KESTRUN_PUBLISHER_BINARY,
                                                 {"publish", "--build", m_Game.build(), "--cdn",
                                                  m_Game.cdn() + "/other", "--name", "other",
                                                  "--package-version", "7", "--executable",
                                                  TPublishedGame::kClient, "--key", m_Key},
                                                 output),
                         qPrintable(output));
                replacement = m_Game.cdn() + "/other/other-7.json";
            }
            for (const char* suffix : {"", ".sig"})
                QVERIFY(writeBytes(m_Game.packageDocument("5") + suffix,
                                   readBytes(replacement + suffix)));
        }
        const auto before = installedFiles();
        QCOMPARE(runLauncher(), status);
        const QByteArray log = readBytes(TLauncherInstall::logFilePath());
        QVERIFY2(QString::fromUtf8(log).contains(QRegularExpression(logLine)),
                 log.right(3000).constData());
        QVERIFY(installedFiles() == before);
    }

    void configurationOfAnotherTreeKeepsTheGame_data()
    {
        QTest::addColumn<QStringList>("betaPlace");
        QTest::addColumn<QString>("pinned"); // the channel the launcher's settings pin
        QTest::addColumn<QString>("logLine");
        QTest::newRow("beta naming its own address")
            << QStringList{"--address", betaUrl().toString()} << ""
            << "it belongs at " + betaUrl().toString() + ", not at " +
                   configurationUrl().toString();
        QTest::newRow("beta naming its channel, the launcher pinning live")
            << QStringList{"--channel", "beta"} << "live"
            << "it belongs to the channel 'beta', and the settings pin the channel 'live'";
    }
    // Catches a configuration taken wherever it is served: the beta tree's, signed with the same
    // key and newer, served at the live address installed the beta build over the live one.
    void configurationOfAnotherTreeKeepsTheGame()
    {
        QFETCH(QStringList, betaPlace);
        QFETCH(QString, pinned);
        QFETCH(QString, logLine);
        QString output;
        m_Game.setSigningKey(m_Key);
        QVERIFY2(m_Game.makeBuild(TPublishedGame::pseudoRandom(6 << 20, 9), output),
                 qPrintable(output));
        QVERIFY2(m_Game.publish("6", output), qPrintable(output));
        QVERIFY2(
            m_Game.configure("6", output,
                             {"--address", configurationUrl().toString(), "--channel", "live"}),
            qPrintable(output));
        const QByteArray settings =
            signedSettings(configurationUrl()) +
            (pinned.isEmpty() ? QByteArray() : "channel=" + pinned.toUtf8() + "\n");
        QVERIFY(m_Launcher.writeSettings(settings));
        QCOMPARE(runLauncher(), 0);
        QCOMPARE(readBytes(packageDirectory() + "/package.json"),
                 readBytes(m_Game.packageDocument("6")));

        // The beta build, published beside the live one and configured in a tree of its own.
        QVERIFY(writeBytes(m_Game.build() + "/only-in-beta.txt", "beta"));
        QVERIFY2(m_Game.publish("7", output), qPrintable(output));
        // Configured after the live one, from it: its serial is the higher.
        const QString live = m_Game.cdn() + TPublishedGame::kConfigurationPath;
        const QString beta = m_Game.cdn() + "/beta" + TPublishedGame::kConfigurationPath;
        QVERIFY(writeBytes(beta, readBytes(live)));
        QVERIFY2(
            TPublishedGame::runTool(KESTRUN_PUBLISHER_BINARY,
                                    QStringList{"configure", "--output", beta, "--package", "Live",
                                                "--directory-name", "live",
                                                "--install-automatically", "true", "--build",
                                                "linux/x86_64=../../live/package-7.json,../../live/"
                                                "package-7-assets-17.json",
                                                "--key", m_Key, "--address", "", "--channel", ""} +
                                        betaPlace,
                                    output),
            qPrintable(output));
        for (const char* suffix : {"", ".sig"})
            QVERIFY(writeBytes(live + suffix, readBytes(beta + suffix)));

        const auto before = installedFiles();
        const int status = runLauncher();
        QVERIFY(m_Launcher.writeSettings(signedSettings(configurationUrl())));
        QCOMPARE(status, 0);
        const QByteArray log = readBytes(TLauncherInstall::logFilePath());
        QVERIFY2(log.contains("Launcher configuration refused: " +
                              configurationUrl().toString().toUtf8() + " " + logLine.toUtf8()),
                 log.right(3000).constData());
        QVERIFY(log.contains("Local copy of the launcher configuration loaded"));
        QVERIFY(installedFiles() == before);
    }

    // Catches signature checks, or signature requests, that reach launchers without a key.
    void unsignedTreeInstallsWithoutAKey()
    {
        QString output;
        m_Game.setSigningKey(QString());
        QVERIFY2(m_Game.publishVersion("3", TPublishedGame::pseudoRandom(6 << 20, 5), output),
                 qPrintable(output));
        QDirIterator it(m_Game.cdn(), {"*.sig"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            QVERIFY(QFile::remove(it.next()));
        QVERIFY(m_Launcher.writeSettings(TLauncherInstall::settingsFor(configurationUrl())));
        m_pServer->clearAccessLog();

        QCOMPARE(runLauncher(), 0);
        QCOMPARE(readBytes(packageDirectory() + "/package.json"),
                 readBytes(m_Game.packageDocument("3")));
        for (const auto& entry : m_pServer->accessLog())
            QVERIFY2(!entry.path.endsWith(".sig"), qPrintable(entry.path));
    }

private:
    QUrl configurationUrl() const { return m_pServer->url(TPublishedGame::kConfigurationPath); }
    QUrl betaUrl() const { return m_pServer->url("/beta" + TPublishedGame::kConfigurationPath); }

    QByteArray signedSettings(const QUrl& configuration) const
    {
        return TLauncherInstall::settingsFor(configuration) +
               "\n[SECURITY]\ndocumentPublicKey=" + readBytes(m_Key + ".pub").trimmed() + "\n";
    }

    int runLauncher()
    {
        QFile::remove(TLauncherInstall::logFilePath());
        return m_Launcher.run({QStringLiteral("--first-launch")}, kTimeoutMs);
    }

    TPublishedGame m_Game;
    QString m_Key;
    QString m_OtherKey;
    std::unique_ptr<TNginxServer> m_pServer;
    TLauncherInstall m_Launcher;
};

QTEST_GUILESS_MAIN(TestSignedDocuments)
#include "tst_signeddocuments.moc"
