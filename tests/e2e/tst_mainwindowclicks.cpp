// The player's road through the real window: the launcher runs on an X server of its own with
// --show-ui, a scripted click on the tile installs the package from nginx while the tile shows
// the phases, and a click on the green button starts the client. Screenshots of the download and
// of the end are kept beside the test executable.
#include "launcherinstall.h"
#include "nginxserver.h"
#include "publishedgame.h"
#include "testfiles.h"

#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

#include <functional>

using testsupport::readBytes;
using testsupport::TLauncherInstall;
using testsupport::TNginxServer;
using testsupport::TPublishedGame;

namespace {

constexpr int kTimeoutMs = 60000;

QByteArray logContent()
{
    return readBytes(TLauncherInstall::logFilePath());
}

QString packageDirectory()
{
    return testsupport::kestrunDataDirectory() + QStringLiteral("/packages/live");
}

// The middle of the pixels that pass the test, inside the rectangle; null when none do.
QPoint centreOf(const QImage& Image, const QRect& Area, const std::function<bool(QRgb)>& Matches)
{
    qint64 sumX = 0;
    qint64 sumY = 0;
    qint64 count = 0;
    const QRect area = Area.intersected(Image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (Matches(Image.pixel(x, y))) {
                sumX += x;
                sumY += y;
                ++count;
            }
        }
    }
    // A few stray pixels of the artwork are not a button.
    if (count < 400)
        return {};
    return QPoint(int(sumX / count), int(sumY / count));
}

bool isButtonBlue(QRgb Pixel)
{
    return qBlue(Pixel) > 140 && qBlue(Pixel) - qRed(Pixel) > 70 &&
           qBlue(Pixel) - qGreen(Pixel) > 25;
}

bool isButtonGreen(QRgb Pixel)
{
    return qGreen(Pixel) > 110 && qGreen(Pixel) - qRed(Pixel) > 50 &&
           qGreen(Pixel) - qBlue(Pixel) > 40;
}

} // namespace

class TestMainWindowClicks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<QProcess::ExitStatus>();
        for (const char* tool : {"Xvfb", "xdotool", "import", "xprop"}) {
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP(qPrintable(
                    QString("%1 is not installed: run scripts/install-deps.sh").arg(tool)));
        }
        if (!TNginxServer::isAvailable())
            QSKIP("nginx is not installed: run scripts/install-deps.sh");
        startXServer();

        QString output;
        QVERIFY2(m_Game.makeBuild(TPublishedGame::pseudoRandom(24 << 20, 3), output),
                 qPrintable(output));
        QVERIFY2(m_Game.publish("1", output), qPrintable(output));
        writeNews();
        m_pServer = std::make_unique<TNginxServer>(m_Game.cdn());
        // Slow enough that the download can be seen and photographed.
        m_pServer->setRateLimit("2m");
        QVERIFY2(m_pServer->start(), qPrintable(m_pServer->error()));
        // Hint images are addressed absolutely, so the document is written once the port is known.
        QVERIFY(testsupport::writeBytes(
            m_Game.cdn() + "/news/hints.json",
            QByteArray(m_HintsTemplate).replace("IMAGE:", m_pServer->url("/").toEncoded())));
        QVERIFY2(m_Game.configure("1", output,
                                  {"--hints", m_pServer->url("/news/hints.json").toString()}),
                 qPrintable(output));
        QVERIFY(m_Launcher.writeSettings(
            TLauncherInstall::settingsFor(m_pServer->url("/launcher/qormetadata.json")) +
            "[OPTIONS]\nskipVerification=false\n"));
    }

    void cleanupTestCase()
    {
        if (m_XServer.state() == QProcess::Running) {
            m_XServer.terminate();
            m_XServer.waitForFinished(kTimeoutMs);
        }
    }

    // A launcher left by a failed test would answer the next test's start in its place.
    void cleanup() { m_Launcher.stopAll(); }

    void clickInstallsThenPlays()
    {
        QFile::remove(TLauncherInstall::logFilePath());
        qputenv("DISPLAY", m_Display.toLatin1());
        qputenv("QT_QPA_PLATFORM", "xcb");
        QProcess& launcher = m_Launcher.start({QStringLiteral("--show-ui")});
        qputenv("QT_QPA_PLATFORM", "offscreen");

        const QString window = run({"search", "--sync", "--name", "^Kestrun Online$"}).trimmed();
        QVERIFY2(!window.isEmpty(), logContent().right(1500));
        const QRect geometry = windowGeometry(window.split('\n').first());
        // The tiles are above the hint banner, whose images must not pass for a button.
        const QRect tiles = geometry.adjusted(0, 0, 0, -geometry.height() / 3);
        QCOMPARE(geometry.width(), 800);
        QVERIFY2(geometry.height() >= 450 && geometry.height() <= 600,
                 qPrintable(QString::number(geometry.height())));

        QTRY_VERIFY_WITH_TIMEOUT(logContent().contains("Hint banner shows \"cat1:Season one, "
                                                       "cat2:New realm, cat3:Patch notes\""),
                                 kTimeoutMs);
        QPoint download;
        QTRY_VERIFY_WITH_TIMEOUT(!(download = centreOf(screenshot(), tiles, isButtonBlue)).isNull(),
                                 kTimeoutMs);
        click(download);
        QTRY_VERIFY_WITH_TIMEOUT(logContent().contains("shows \"Downloading\""), kTimeoutMs);
        QVERIFY(saveArtifact(QStringLiteral("main-window-downloading.png"), geometry));

        QTRY_VERIFY_WITH_TIMEOUT(logContent().contains("Event loop: largest delay"), kTimeoutMs);
        const QByteArray log = logContent();
        const qsizetype downloading = log.indexOf("shows \"Downloading\"");
        const qsizetype writing = log.indexOf("shows \"Writing...\"");
        const qsizetype verifying = log.indexOf("shows \"Verifying...\"");
        QVERIFY2(downloading >= 0 && writing > downloading && verifying > writing, log.right(3000));

        QPoint play;
        QTRY_VERIFY_WITH_TIMEOUT(!(play = centreOf(screenshot(), tiles, isButtonGreen)).isNull(),
                                 kTimeoutMs);
        QVERIFY(saveArtifact(QStringLiteral("main-window-installed.png"), geometry));
        QCOMPARE(readBytes(packageDirectory() + "/" + TPublishedGame::kWorld),
                 readBytes(m_Game.build() + "/" + TPublishedGame::kWorld));

        click(play);
        QSignalSpy ended(&launcher, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        QVERIFY(launcher.state() == QProcess::NotRunning || ended.wait(kTimeoutMs));
        QCOMPARE(launcher.exitStatus(), QProcess::NormalExit);
        QCOMPARE(launcher.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(
            readBytes(packageDirectory() + "/democlient-runs.log").count('\n') == 1, kTimeoutMs);
    }

    void windowFitsASmallScaledScreen()
    {
        // At twice the scale the 800 px window was 1600 px on a 1280 px screen, centred at a
        // negative position: its title bar, About, version and links lay off the screen.
        QFile::remove(TLauncherInstall::logFilePath());
        qputenv("DISPLAY", m_Display.toLatin1());
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("QT_SCALE_FACTOR", "2");
        QProcess& launcher = m_Launcher.start({QStringLiteral("--show-ui")});
        qunsetenv("QT_SCALE_FACTOR");
        qputenv("QT_QPA_PLATFORM", "offscreen");

        // The splash screen bears the same name: the main window is up once its hints are. The
        // demo client of the test before is still open, under that name too.
        QTRY_VERIFY_WITH_TIMEOUT(logContent().contains("Hint banner shows"), kTimeoutMs);
        const QString window = windowOf(launcher);
        QVERIFY2(!window.isEmpty(), logContent().right(1500));
        const QRect geometry = windowGeometry(window);
        QVERIFY(saveArtifact(QStringLiteral("main-window-scaled.png"), QRect(0, 0, 1280, 800)));
        QVERIFY2(QRect(0, 0, 1280, 800).contains(geometry),
                 qPrintable(QString("%1,%2 %3x%4")
                                .arg(geometry.x())
                                .arg(geometry.y())
                                .arg(geometry.width())
                                .arg(geometry.height())));
        // Still scaled up, only less: not the 800 px of an unscaled window.
        QVERIFY2(geometry.width() > 1000, qPrintable(QString::number(geometry.width())));
        // The desktop matches the window to its entry by class (StartupWMClass) and shows its
        // icon; the window had neither an icon nor a class the entry named.
        const QString properties =
            run({"-id", window, "WM_CLASS", "_NET_WM_ICON"}, QStringLiteral("xprop"));
        QVERIFY2(properties.contains("WM_CLASS(STRING) = \"launcher\", \"Kestrun Online\""),
                 qPrintable(properties.left(300)));
        QVERIFY2(properties.contains("_NET_WM_ICON(CARDINAL) = "),
                 qPrintable(properties.left(300)));
        launcher.terminate();
        QVERIFY(launcher.waitForFinished(kTimeoutMs));
    }

    void failedDownloadShowsWhereItWasServed()
    {
        // The window was made without the trace, so the box said "Failed to obtain
        // information." and the trace was never requested, and the box's final text never
        // reached the log.
        QVERIFY(testsupport::writeBytes(m_Game.cdn() + "/cdn-cgi/trace",
                                        "fl=417f12\nh=cdn\nip=203.0.113.9\nts=1765100000.5\n"
                                        "colo=FRA\nhttp=http/1.1\n"));
        QVERIFY(m_Launcher.writeSettings(
            TLauncherInstall::settingsFor(m_pServer->url("/launcher/qormetadata.json")) +
            "[OPTIONS]\nskipVerification=false\n"));
        QByteArray settings = readBytes(m_Launcher.directory() + "/launchersettings.ini");
        settings.replace("[URLS]\n", "[URLS]\ncdnDiagnosticsTrace=" +
                                         m_pServer->url("/cdn-cgi/trace").toEncoded() + "\n");
        QVERIFY(m_Launcher.writeSettings(settings));

        const QStringList before = filesBelow(m_Game.cdn());
        QString output;
        QVERIFY2(m_Game.publishVersion("2", TPublishedGame::pseudoRandom(3 << 20, 9), output),
                 qPrintable(output));
        QString container;
        for (const QString& file : filesBelow(m_Game.cdn()))
            if (!before.contains(file) && file.contains("/data/"))
                container = file;
        QVERIFY(!container.isEmpty());
        QVERIFY(QFile::remove(m_Game.cdn() + "/" + container));

        QFile::remove(TLauncherInstall::logFilePath());
        qputenv("DISPLAY", m_Display.toLatin1());
        qputenv("QT_QPA_PLATFORM", "xcb");
        QProcess& launcher = m_Launcher.start({QStringLiteral("--first-launch")});
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QTRY_VERIFY_WITH_TIMEOUT(
            logContent().contains(
                "Diagnostic information: FL: 417f12, TS: 1765100000.5, COLO: FRA, IP: 203.0.113.9"),
            kTimeoutMs);
        QVERIFY(saveArtifact(QStringLiteral("main-window-download-failed.png"),
                             QRect(0, 0, 1280, 800)));
        launcher.terminate();
        QVERIFY(launcher.waitForFinished(kTimeoutMs));
    }

private:
    static QStringList filesBelow(const QString& Root)
    {
        QStringList files;
        QDirIterator it(Root, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next().mid(Root.size() + 1);
        return files;
    }

    // Three hints with images of their own, served beside the game.
    void writeNews()
    {
        const struct
        {
            const char* category;
            const char* title;
            QColor colour;
        } news[] = {{"cat1", "Season one", QColor(0x6A, 0x3D, 0x9A)},
                    {"cat2", "New realm", QColor(0x8C, 0x51, 0x0A)},
                    {"cat3", "Patch notes", QColor(0x80, 0x80, 0x80)}};
        QJsonArray hints;
        for (const auto& item : news) {
            QImage image(290, 80, QImage::Format_RGB32);
            image.fill(item.colour);
            const QString name = QString("news/%1.png").arg(item.category);
            QVERIFY(QDir().mkpath(m_Game.cdn() + "/news"));
            QVERIFY(image.save(m_Game.cdn() + "/" + name));
            hints.append(QJsonObject{{"category", item.category},
                                     {"title", item.title},
                                     {"richText", item.title},
                                     {"imageUrl", "IMAGE:" + name},
                                     {"url", "https://www.kestrun-online.com/news"}});
        }
        m_HintsTemplate = QJsonDocument(hints).toJson();
    }

    void startXServer()
    {
        // The server picks a free display and writes its number to standard output.
        m_XServer.start(QStringLiteral("Xvfb"),
                        {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
        QVERIFY(m_XServer.waitForStarted(kTimeoutMs));
        QTRY_VERIFY_WITH_TIMEOUT(m_XServer.canReadLine(), kTimeoutMs);
        m_Display = ":" + QString::fromLatin1(m_XServer.readLine()).trimmed();
    }

    QString run(const QStringList& Arguments, const QString& Program = QStringLiteral("xdotool"))
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), m_Display);
        process.setProcessEnvironment(environment);
        process.start(Program, Arguments);
        if (!process.waitForFinished(kTimeoutMs))
            return {};
        return QString::fromLatin1(process.readAllStandardOutput());
    }

    // The visible window of that launcher with the product's name (the demo client of an earlier
    // test bears it too, and xdotool's --pid does not narrow a search by name).
    QString windowOf(const QProcess& Launcher)
    {
        const QString pid = QString::number(Launcher.processId());
        for (const QString& id :
             run({"search", "--sync", "--onlyvisible", "--name", "^Kestrun Online$"})
                 .split('\n', Qt::SkipEmptyParts)) {
            if (run({"getwindowpid", id}).trimmed() == pid)
                return id;
        }
        return {};
    }

    QRect windowGeometry(const QString& Window)
    {
        QRect geometry;
        for (const QString& line : run({"getwindowgeometry", "--shell", Window}).split('\n')) {
            const QString value = line.section('=', 1);
            if (line.startsWith("X="))
                geometry.moveLeft(value.toInt());
            else if (line.startsWith("Y="))
                geometry.moveTop(value.toInt());
            else if (line.startsWith("WIDTH="))
                geometry.setWidth(value.toInt());
            else if (line.startsWith("HEIGHT="))
                geometry.setHeight(value.toInt());
        }
        return geometry;
    }

    QImage screenshot()
    {
        const QString path = QDir::temp().filePath(QStringLiteral("screen.png"));
        run({"-window", "root", path}, QStringLiteral("import"));
        return QImage(path);
    }

    bool saveArtifact(const QString& Name, const QRect& Geometry)
    {
        return screenshot().copy(Geometry).save(QCoreApplication::applicationDirPath() +
                                                QLatin1Char('/') + Name);
    }

    void click(const QPoint& Position)
    {
        run({"mousemove", QString::number(Position.x()), QString::number(Position.y()), "click",
             "1"});
    }

    QByteArray m_HintsTemplate;
    QProcess m_XServer;
    QString m_Display;
    TPublishedGame m_Game;
    std::unique_ptr<TNginxServer> m_pServer;
    TLauncherInstall m_Launcher;
};

QTEST_GUILESS_MAIN(TestMainWindowClicks)
#include "tst_mainwindowclicks.moc"
