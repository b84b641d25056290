// The progress a script sees: the real launcher installs a published game served by nginx with
// --progress-json, and its standard output is read as a script would read it.
#include "buildpaths.h"
#include "launcherinstall.h"
#include "nginxserver.h"
#include "publishedgame.h"
#include "testfiles.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

using testsupport::TLauncherInstall;
using testsupport::TNginxServer;
using testsupport::TPublishedGame;

namespace {

constexpr int kTimeoutMs = 60000;

qint64 treeSize(const QString& directory)
{
    qint64 size = 0;
    QDirIterator it(directory, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        size += it.fileInfo().size();
    }
    return size;
}

} // namespace

class TestProgressJson : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<QProcess::ExitStatus>();
        if (!TNginxServer::isAvailable())
            QSKIP("nginx is not installed: run scripts/install-deps.sh");
        QString output;
        QVERIFY2(m_Game.publishVersion("1", TPublishedGame::pseudoRandom(24 << 20, 9), output),
                 qPrintable(output));
        m_pServer = std::make_unique<TNginxServer>(m_Game.cdn());
        // Slow enough that the download is seen in several lines.
        m_pServer->setRateLimit("8m");
        QVERIFY2(m_pServer->start(), qPrintable(m_pServer->error()));
        QVERIFY(m_Launcher.writeSettings(
            TLauncherInstall::settingsFor(m_pServer->url(TPublishedGame::kConfigurationPath))));
    }

    // Catches output a script cannot parse line by line (log text, torn or merged lines), phases
    // out of order, totals that do not add up to the package, and a missing end.
    void firstLaunchPrintsOneObjectPerLine()
    {
        QProcess& launcher = m_Launcher.start({"--first-launch", "--progress-json"});
        QSignalSpy ended(&launcher, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        QVERIFY(ended.wait(kTimeoutMs));
        QCOMPARE(launcher.exitCode(), 0);
        const QByteArray output = launcher.readAllStandardOutput();
        QVERIFY2(output.endsWith('\n'), output.right(200).constData());

        std::vector<QJsonObject> objects;
        for (const QByteArray& line : output.trimmed().split('\n')) {
            QJsonParseError error{};
            const QJsonDocument document = QJsonDocument::fromJson(line, &error);
            QVERIFY2(error.error == QJsonParseError::NoError && document.isObject(),
                     line.constData());
            objects.push_back(document.object());
        }
        QStringList events;
        for (const QJsonObject& object : objects)
            if (events.isEmpty() || events.last() != object.value("event").toString())
                events << object.value("event").toString();
        QCOMPARE(events, QStringList({"configuration", "progress", "started", "progress",
                                      "finished", "client-started", "exit"}));

        const qint64 packageSize = treeSize(m_Game.build());
        const QStringList order{"scan", "download", "write", "verify"};
        int phase = 0;
        QJsonObject lastProgress;
        QJsonObject started;
        int downloadLines = 0;
        for (const QJsonObject& object : objects) {
            const QString event = object.value("event").toString();
            if (event == "started")
                started = object;
            if (event != "progress")
                continue;
            QCOMPARE(object.value("package").toString(), QString("Live"));
            const int index = order.indexOf(object.value("phase").toString());
            QVERIFY2(index >= phase, qPrintable(object.value("phase").toString()));
            phase = index;
            QVERIFY(object.value("done").toDouble() <= object.value("total").toDouble());
            QVERIFY(object.value("rate").toDouble() >= 0);
            downloadLines += object.value("phase").toString() == "download";
            lastProgress = object;
        }
        QVERIFY2(downloadLines >= 2, qPrintable(QString::number(downloadLines)));
        QCOMPARE(started.value("write").toDouble(), double(packageSize));
        QVERIFY(started.value("download").toDouble() > 0);
        QCOMPARE(lastProgress.value("total").toDouble(), double(packageSize));
        QCOMPARE(lastProgress.value("done").toDouble(), double(packageSize));

        const QJsonObject finished =
            *std::find_if(objects.begin(), objects.end(), [](const QJsonObject& o) {
                return o.value("event").toString() == "finished";
            });
        QVERIFY(finished.value("error").isNull());
        const QJsonObject client = objects.at(objects.size() - 2);
        QVERIFY(client.value("path").toString().endsWith("/live/" + TPublishedGame::kClient));
        QCOMPARE(client.value("arguments").toArray().first().toString(), QString("--exit-after"));
        QCOMPARE(objects.back().value("status").toInt(-1), 0);
    }

private:
    TPublishedGame m_Game;
    std::unique_ptr<TNginxServer> m_pServer;
    TLauncherInstall m_Launcher;
};

QTEST_GUILESS_MAIN(TestProgressJson)
#include "tst_progressjson.moc"
