#include "buildpaths.h"
#include "testbuild.h"
#include "testfiles.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace publishertest;
using testsupport::readBytes;
using testsupport::writeBytes;

namespace {

constexpr int kWaitMs = 120000;

struct TRun
{
    int ExitCode = -1;
    QString Out;
    QString Err;
};

TRun runPublisher(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(KESTRUN_BIN_DIR "/kestrun-publish"), arguments);
    if (!process.waitForFinished(kWaitMs))
        return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

// Runs the real program as the studio's build scripts would.
class TestPublishCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_pBuild = std::make_unique<QTemporaryDir>();
        m_pCdn = std::make_unique<QTemporaryDir>();
        QVERIFY(writeBuild(m_pBuild->path(),
                           {{"bin/game", pattern(100, 1)}, {"data/level.pak", pattern(5000, 2)}},
                           QStringLiteral("bin/game")));
    }

    void malformedInputEndsWithOneLine_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing build directory")
            << "no build" << QStringList() << "build directory '";
        QTest::newRow("unknown codec")
            << "" << QStringList{"--codec", "brotli"} << "unknown codec 'brotli'";
        QTest::newRow("unknown codec in a rule")
            << "" << QStringList{"--codec-rule", "*.pak=gzip"} << "unknown codec 'gzip'";
        QTest::newRow("level beyond the codec's")
            << "" << QStringList{"--codec", "zstd:23"} << "'23' is no level of zstd";
        QTest::newRow("long-distance matching of LZMA")
            << "" << QStringList{"--codec-rule", "*.pak=lzma:long"} << "'long' is no level of lzma";
        QTest::newRow("too many parts")
            << "" << QStringList{"--codec", "zstd:3:3:long"} << "'zstd:3:3:long' has too many";
        QTest::newRow("link leaving the build")
            << "link out" << QStringList() << "symbolic link 'data/escape' leaves the build";
        QTest::newRow("dangling link")
            << "dangling" << QStringList() << "'data/gone' leads nowhere";
        QTest::newRow("file that cannot be read")
            << "fifo" << QStringList() << "'data/pipe' is not a regular file";
        QTest::newRow("executable not in the build")
            << "" << QStringList{"--executable", "bin/other"} << "executable 'bin/other'";
        QTest::newRow("version that is no file name")
            << "" << QStringList{"--package-version", "1/2"} << "version '1/2'";
        QTest::newRow("unknown option") << "" << QStringList{"--colour"} << "Unknown option";
        QTest::newRow("CDN inside the build")
            << "cdn inside" << QStringList() << "must not contain each other";
    }
    // Catches failures that reach the terminal as several lines, with status 0, or after a
    // document was written that points at nothing.
    void malformedInputEndsWithOneLine()
    {
        QFETCH(QString, damage);
        QFETCH(QStringList, extra);
        QFETCH(QString, reason);
        QString build = m_pBuild->path();
        if (damage == "no build")
            build += "/missing";
        else if (damage == "link out")
            QVERIFY(QFile::link(QDir::tempPath(), m_pBuild->filePath("data/escape")));
        else if (damage == "dangling")
            QVERIFY(QFile::link(m_pBuild->filePath("nothing"), m_pBuild->filePath("data/gone")));
        else if (damage == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(m_pBuild->filePath("data/pipe")).constData(), 0600),
                     0);

        const QString cdn = damage == "cdn inside" ? build + "/cdn" : m_pCdn->path();
        QStringList arguments{"publish", "--build", build, "--cdn", cdn};
        arguments << "--package-version"
                  << "1"
                  << "--executable"
                  << "bin/game";
        // The last value of an option counts, so a row may replace a good one.
        arguments << extra;
        const TRun run = runPublisher(arguments);
        QCOMPARE(run.ExitCode, 1);
        QVERIFY2(run.Err.startsWith("kestrun-publish publish: ") && run.Err.count('\n') == 1 &&
                     run.Err.contains(reason),
                 qPrintable(run.Err));
        QVERIFY2(run.Out.isEmpty(), qPrintable(run.Out));
        QVERIFY(QDir(cdn).entryList({"*.json"}, QDir::Files).isEmpty());
        QVERIFY(!QFileInfo::exists(m_pBuild->filePath("cdn")));
    }

    // Catches progress mixed into the results that scripts read, and a verify that passes a
    // broken tree.
    void resultsOnStandardOutputAndVerifyStatus()
    {
        const TRun published =
            runPublisher({"publish", "--build", m_pBuild->path(), "--cdn", m_pCdn->path(), "--name",
                          "game", "--package-version", "4", "--executable", "bin/game"});
        QCOMPARE(published.ExitCode, 0);
        QVERIFY2(published.Out.startsWith("package-document: game-4.json\n"),
                 qPrintable(published.Out));
        QVERIFY(published.Err.startsWith("publishing 2 files"));
        QVERIFY(!published.Err.contains("document"));

        const QString document = m_pCdn->filePath("game-4.json");
        QCOMPARE(runPublisher({"verify", "--package", document}).ExitCode, 0);
        const QStringList containers =
            QDir(m_pCdn->filePath("data/deflate")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QDir(m_pCdn->filePath("data/deflate/" + containers.first())).removeRecursively();
        const TRun verified = runPublisher({"verify", "--package", document});
        QCOMPARE(verified.ExitCode, 1);
        QVERIFY2(verified.Out.startsWith("data/deflate/" + containers.first()) &&
                     verified.Out.contains(": missing\n"),
                 qPrintable(verified.Out));
    }

    // Catches a studio sent round one run per dangling link, and an option that leaves out links
    // without a word, or leaves out files too.
    void brokenLinksAreListedOrLeftOut()
    {
        QVERIFY(QDir().mkpath(m_pBuild->filePath("data/fonts")));
        for (const QString font : {"data/fonts/a.ttf", "data/fonts/b.ttf", "data/c.ttf"})
            QVERIFY(QFile::link("/usr/share/fonts/missing/" + font.section('/', -1),
                                m_pBuild->filePath(font)));
        QStringList arguments{"publish", "--build",      m_pBuild->path(),
                              "--cdn",   m_pCdn->path(), "--package-version",
                              "1",       "--executable", "bin/game"};
        const TRun refused = runPublisher(arguments);
        QCOMPARE(refused.ExitCode, 1);
        QVERIFY2(refused.Err.contains("3 symbolic links lead nowhere: 'data/c.ttf', "
                                      "'data/fonts/a.ttf', 'data/fonts/b.ttf'") &&
                     refused.Err.contains("--skip-broken-links"),
                 qPrintable(refused.Err));

        const TRun published = runPublisher(arguments << "--skip-broken-links");
        QCOMPARE(published.ExitCode, 0);
        QCOMPARE(published.Err.count("warning: left out symbolic link '"), 3);
        QVERIFY2(published.Err.contains("'data/fonts/b.ttf', which leads nowhere"),
                 qPrintable(published.Err));
        QVERIFY2(published.Out.contains("files: 2\n"), qPrintable(published.Out));
    }

    void verifyJudgesTheTreeAsTheLauncher_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QStringList>("verify");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected");
        const QString configuration = "CDN/launcher/qormetadata.json";
        QTest::newRow("tree with the documents in folders")
            << "../game/game-1.json" << QStringList{"--root", "CDN"} << 0 << "documents: 2\n";
        QTest::newRow("configuration in launcher/ alone")
            << "../game/game-1.json" << QStringList{"--configuration", configuration} << 0
            << "documents: 2\n";
        QTest::newRow("configuration within the tree given")
            << "../game/game-1.json"
            << QStringList{"--configuration", configuration, "--root", "CDN"} << 0
            << "documents: 2\n";
        QTest::newRow("address above the tree")
            << "../../game/game-1.json" << QStringList{"--configuration", configuration} << 1
            << "/game/game-1.json' leaves the tree\n";
        QTest::newRow("tree without documents")
            << "../game/game-1.json" << QStringList{"--root", "CDN/game/data"} << 1
            << "no documents\n";
    }
    // Catches a verify that passes after checking nothing, and one that refuses the relative
    // addresses the launcher resolves from launcher/qormetadata.json into the tree.
    void verifyJudgesTheTreeAsTheLauncher()
    {
        QFETCH(QString, address);
        QFETCH(QStringList, verify);
        QFETCH(int, status);
        QFETCH(QString, expected);
        const QString cdn = m_pCdn->path();
        QCOMPARE(
            runPublisher({"publish", "--build", m_pBuild->path(), "--cdn", cdn + "/game", "--name",
                          "game", "--package-version", "1", "--executable", "bin/game"})
                .ExitCode,
            0);
        QCOMPARE(
            runPublisher({"configure", "--output", cdn + "/launcher/qormetadata.json", "--package",
                          "Game", "--directory-name", "game", "--build", "linux/x86_64=" + address})
                .ExitCode,
            0);
        const TRun verified =
            runPublisher(QStringList{"verify"} + verify.replaceInStrings("CDN", cdn));
        QVERIFY2(verified.ExitCode == status && verified.Out.contains(expected),
                 qPrintable(verified.Out));
    }

    // Catches a private key that other users can read, or a second keygen that replaces the key
    // every launcher in the field trusts.
    void keygenKeepsThePrivateKeyToItsOwner()
    {
        QTemporaryDir keys;
        const QString key = keys.filePath("studio.key");
        const TRun made = runPublisher({"keygen", "--output", key});
        QCOMPARE(made.ExitCode, 0);
        struct stat info
        {
        };
        QCOMPARE(::stat(QFile::encodeName(key).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0600));
        QVERIFY2(made.Out.contains("public-key: " + readBytes(key + ".pub").trimmed()),
                 qPrintable(made.Out));

        const QByteArray before = readBytes(key);
        const TRun again = runPublisher({"keygen", "--output", key});
        QCOMPARE(again.ExitCode, 1);
        QVERIFY2(again.Err.contains("never replaced"), qPrintable(again.Err));
        QCOMPARE(readBytes(key), before);
    }

    void signedTreeVerifiesOnlyAsPublished_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("fault");
        QTest::newRow("as published") << ""
                                      << "";
        QTest::newRow("package document changed after signing")
            << "flip byte"
            << "game-4.json: signature does not match";
        QTest::newRow("package signature removed") << "remove signature"
                                                   << "game-4.json: signature missing";
        QTest::newRow("configuration signed by another key")
            << "other key"
            << "qormetadata.json: signature does not match";
    }
    // Catches documents written unsigned, signatures over other bytes than the file holds, and a
    // verify that passes a tree the launcher would refuse.
    void signedTreeVerifiesOnlyAsPublished()
    {
        QFETCH(QString, damage);
        QFETCH(QString, fault);
        QTemporaryDir keys;
        const QString key = keys.filePath("studio.key");
        const QString otherKey = keys.filePath("other.key");
        QCOMPARE(runPublisher({"keygen", "--output", key}).ExitCode, 0);
        QCOMPARE(runPublisher({"keygen", "--output", otherKey}).ExitCode, 0);
        const QStringList publish{"publish",
                                  "--build",
                                  m_pBuild->path(),
                                  "--cdn",
                                  m_pCdn->path(),
                                  "--name",
                                  "game",
                                  "--package-version",
                                  "4",
                                  "--executable",
                                  "bin/game",
                                  "--key",
                                  key};
        const TRun published = runPublisher(publish);
        QCOMPARE(published.ExitCode, 0);
        QVERIFY2(published.Out.contains("signatures-written: 1\n"), qPrintable(published.Out));
        // Republishing the same build writes nothing, signatures included.
        QVERIFY(runPublisher(publish).Out.contains("signatures-written: 0\n"));
        const QString configuration = m_pCdn->filePath("qormetadata.json");
        QCOMPARE(runPublisher({"configure", "--output", configuration, "--package", "Game",
                               "--directory-name", "game", "--build", "linux/x86_64=game-4.json",
                               "--key", damage == "other key" ? otherKey : key})
                     .ExitCode,
                 0);

        const QString document = m_pCdn->filePath("game-4.json");
        if (damage == "flip byte") {
            QByteArray bytes = readBytes(document);
            bytes[bytes.indexOf("bin/game")] = 'B';
            QVERIFY(writeBytes(document, bytes));
        } else if (damage == "remove signature") {
            QVERIFY(QFile::remove(document + ".sig"));
        }
        const TRun verified =
            runPublisher({"verify", "--root", m_pCdn->path(), "--public-key", key + ".pub"});
        QCOMPARE(verified.ExitCode, fault.isEmpty() ? 0 : 1);
        QVERIFY2(verified.Out.contains(fault.isEmpty() ? "faults: 0" : fault),
                 qPrintable(verified.Out));
        // Without the key the same tree verifies as an unsigned one would.
        if (damage != "flip byte")
            QCOMPARE(runPublisher({"verify", "--root", m_pCdn->path()}).ExitCode, 0);
    }

    void configurationNamesWhereItBelongs_data()
    {
        const QString live = "https://cdn.example/live/launcher/qormetadata.json";
        const QString beta = "https://cdn.example/beta/launcher/qormetadata.json";
        QTest::addColumn<QStringList>("configure"); // of the live configuration
        QTest::addColumn<bool>("beside");           // a beta configuration in the same tree
        QTest::addColumn<QStringList>("second");    // of the beta configuration
        QTest::addColumn<QStringList>("verify");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected"); // on standard output
        QTest::newRow("its own channel and address")
            << QStringList{"--channel", "live", "--address", live} << false << QStringList()
            << QStringList{"--channel", "live", "--address", live} << 0 << "faults: 0\n";
        QTest::newRow("verified for another channel")
            << QStringList{"--channel", "beta"} << false << QStringList()
            << QStringList{"--channel", "live"} << 1
            << "launchers refuse it: it belongs to the channel 'beta'";
        QTest::newRow("verified at another address")
            << QStringList{"--address", beta} << false << QStringList()
            << QStringList{"--address", live} << 1 << "launchers refuse it: it belongs at " + beta;
        QTest::newRow("beta beside live, each in its place")
            << QStringList{"--address", live} << true << QStringList{"--address", beta}
            << QStringList() << 0 << "faults: 0\n";
        QTest::newRow("beta beside live, neither naming a place")
            << QStringList() << true << QStringList() << QStringList() << 1
            << "names the same address and channel as ";
    }
    // Catches a configure that cannot say where a configuration belongs, and a verify that
    // passes a tree whose configurations a launcher could not tell apart or would refuse.
    void configurationNamesWhereItBelongs()
    {
        QFETCH(QStringList, configure);
        QFETCH(bool, beside);
        QFETCH(QStringList, second);
        QFETCH(QStringList, verify);
        QFETCH(int, status);
        QFETCH(QString, expected);
        QTemporaryDir keys;
        const QString key = keys.filePath("studio.key");
        QCOMPARE(runPublisher({"keygen", "--output", key}).ExitCode, 0);
        const QString cdn = m_pCdn->path();
        QCOMPARE(runPublisher({"publish", "--build", m_pBuild->path(), "--cdn", cdn + "/game",
                               "--name", "game", "--package-version", "1", "--executable",
                               "bin/game", "--key", key})
                     .ExitCode,
                 0);
        const auto configureAt = [&](const QString& folder, const QStringList& place) {
            return runPublisher(QStringList{"configure", "--output",
                                            cdn + "/" + folder + "/launcher/qormetadata.json",
                                            "--package", "Game", "--directory-name", "game",
                                            "--build", "linux/x86_64=../../game/game-1.json",
                                            "--key", key} +
                                place);
        };
        const TRun configured = configureAt("live", configure);
        QCOMPARE(configured.ExitCode, 0);
        QCOMPARE(configured.Err.contains("note: the configuration names neither"),
                 configure.isEmpty());
        if (beside)
            QCOMPARE(configureAt("beta", second).ExitCode, 0);
        const TRun verified = runPublisher(
            QStringList{"verify", "--root", cdn, "--public-key", key + ".pub"} + verify);
        QVERIFY2(verified.ExitCode == status && verified.Out.contains(expected),
                 qPrintable(verified.Out));
    }

    void placeWithoutAKeyIsRefused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("reason");
        QTest::newRow("configure --channel")
            << QStringList{"configure", "--output", "CDN/c.json", "--channel", "live"}
            << "--address and --channel need --key";
        QTest::newRow("verify --address")
            << QStringList{"verify", "--root", "CDN", "--address", "https://cdn.example/c.json"}
            << "--address and --channel need --public-key";
    }
    // Catches a place that is silently dropped: unsigned, a configuration vouches for nothing.
    void placeWithoutAKeyIsRefused()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, reason);
        const TRun run = runPublisher(arguments.replaceInStrings("CDN", m_pCdn->path()));
        QCOMPARE(run.ExitCode, 1);
        QVERIFY2(run.Err.contains(reason), qPrintable(run.Err));
    }

private:
    std::unique_ptr<QTemporaryDir> m_pBuild;
    std::unique_ptr<QTemporaryDir> m_pCdn;
};

QTEST_GUILESS_MAIN(TestPublishCommandLine)
#include "tst_publishcommandline.moc"
