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
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
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

bool isButtonOrange(QRgb Pixel)
{
    return qRed(Pixel) > 180 && qRed(Pixel) - qGreen(Pixel) > 50 &&
           qRed(Pixel) - qBlue(Pixel) > 120;
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

        const QString window = windowOf(launcher);
        QVERIFY2(!window.isEmpty(), logContent().right(1500));
        const QRect geometry = windowGeometry(window);
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

    // A pause through the window's context menu used to be forgotten with the launcher; started
    // again, the launcher must offer to resume and finish from where the pause left the files.
    void pauseOutlivesARestart()
    {
        QDir(packageDirectory()).removeRecursively();
        QFile::remove(TLauncherInstall::logFilePath());
        // A limit slow enough that the pause comes while the download runs, whatever the machine.
        QVERIFY(m_Launcher.writeSettings(
            TLauncherInstall::settingsFor(m_pServer->url("/launcher/qormetadata.json")) +
            "[OPTIONS]\nskipVerification=false\nmaxDownloadRate=1000000\n"));
        auto restoreSettings = qScopeGuard([this] {
            m_Launcher.writeSettings(
                TLauncherInstall::settingsFor(m_pServer->url("/launcher/qormetadata.json")) +
                "[OPTIONS]\nskipVerification=false\n");
        });
        QString window = showLauncher();
        QVERIFY2(!window.isEmpty(), logContent().right(1500));
        QRect geometry = windowGeometry(window);
        QRect tiles = aboveTheHints(geometry);
        QPoint download;
        QTRY_VERIFY_WITH_TIMEOUT(!(download = centreOf(screenshot(), tiles, isButtonBlue)).isNull(),
                                 kTimeoutMs);
        click(download);
        QTRY_VERIFY_WITH_TIMEOUT(logContent().contains("shows \"Downloading\""), kTimeoutMs);
        // The limit from the window replaces the one of the settings file at once.
        QVERIFY(chooseFromContextMenu(download, 3));
        QTRY_VERIFY_WITH_TIMEOUT(!visibleWindowsNamed("^Download speed$").isEmpty(), kTimeoutMs);
        run({"key", "--delay", "100", "ctrl+a"});
        run({"type", "--delay", "100", "0.5"});
        run({"key", "Return"});
        QTRY_VERIFY_WITH_TIMEOUT(
            logContent().contains("Download speed limit: 500000 bytes per second"), kTimeoutMs);
        QVERIFY(chooseFromContextMenu(download, 1));
        QTRY_VERIFY_WITH_TIMEOUT(logContent().contains("Pause of"), kTimeoutMs);
        QPoint resume;
        QTRY_VERIFY_WITH_TIMEOUT(!(resume = centreOf(screenshot(), tiles, isButtonOrange)).isNull(),
                                 kTimeoutMs);
        QVERIFY(saveArtifact(QStringLiteral("main-window-paused.png"), geometry));
        m_Launcher.stopAll();

        QFile::remove(TLauncherInstall::logFilePath());
        QVERIFY(m_Launcher.writeSettings(
            TLauncherInstall::settingsFor(m_pServer->url("/launcher/qormetadata.json")) +
            "[OPTIONS]\nskipVerification=false\n"));
        window = showLauncher();
        QVERIFY2(!window.isEmpty(), logContent().right(1500));
        QVERIFY2(logContent().contains("offers to resume"), logContent().right(3000));
        geometry = windowGeometry(window);
        tiles = aboveTheHints(geometry);
        QTRY_VERIFY_WITH_TIMEOUT(!(resume = centreOf(screenshot(), tiles, isButtonOrange)).isNull(),
                                 kTimeoutMs);
        click(resume);
        QTRY_VERIFY_WITH_TIMEOUT(!centreOf(screenshot(), tiles, isButtonGreen).isNull(),
                                 kTimeoutMs);
        QVERIFY(saveArtifact(QStringLiteral("main-window-resumed.png"), geometry));
        QCOMPARE(readBytes(packageDirectory() + "/" + TPublishedGame::kWorld),
                 readBytes(m_Game.build() + "/" + TPublishedGame::kWorld));
    }

    void verifyTellsWhatItFound_data()
    {
        QTest::addColumn<bool>("damaged");
        QTest::addColumn<QString>("told");
        QTest::addColumn<QString>("artifact");
        // A successful Verify used to show nothing at all.
        QTest::newRow("intact") << false << "is intact."
                                << "main-window-verified.png";
        // A Verify that found damage ended in "The installation ... failed.", named no file and
        // repaired nothing.
        QTest::newRow("one file damaged") << true << "is repaired.\\n\\n1 file of"
                                          << "main-window-repaired.png";
    }
    void verifyTellsWhatItFound()
    {
        QFETCH(bool, damaged);
        QFETCH(QString, told);
        QFETCH(QString, artifact);
        const QString world = packageDirectory() + "/" + TPublishedGame::kWorld;
        if (damaged) {
            QByteArray bytes = readBytes(world);
            bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x5a);
            QVERIFY(testsupport::writeBytes(world, bytes));
        }
        QFile::remove(TLauncherInstall::logFilePath());
        const QString window = showLauncher();
        QVERIFY2(!window.isEmpty(), logContent().right(1500));
        const QRect geometry = windowGeometry(window);
        QPoint play;
        QTRY_VERIFY_WITH_TIMEOUT(
            !(play = centreOf(screenshot(), aboveTheHints(geometry), isButtonGreen)).isNull(),
            kTimeoutMs);
        QVERIFY(chooseFromContextMenu(play, 1));
        QTRY_VERIFY2_WITH_TIMEOUT(
            logContent().contains("Verification complete: \"Kestrun Online " + told.toUtf8()),
            logContent().right(900).constData(), kTimeoutMs);
        QVERIFY2(!logContent().contains("Installation failed"), logContent().right(1500));
        QTRY_VERIFY_WITH_TIMEOUT(!visibleWindowsNamed("^Verification complete$").isEmpty(),
                                 kTimeoutMs);
        QVERIFY(saveArtifact(artifact, geometry));
        QCOMPARE(readBytes(world), readBytes(m_Game.build() + "/" + TPublishedGame::kWorld));
    }

    void theLocaleChoosesTheLanguage_data()
    {
        QTest::addColumn<QByteArray>("lang");
        QTest::addColumn<QByteArray>("language");
        QTest::addColumn<QString>("spoken");
        QTest::addColumn<QString>("aboutTitle");
        QTest::addColumn<QString>("screenshot");
        QTest::newRow("German") << QByteArray("de_DE.UTF-8") << QByteArray("de") << "de"
                                << QString::fromUtf8("Über Kestrun Online") << "german";
        // German as the second choice of a player whose first has no translation.
        QTest::newRow("French, then German")
            << QByteArray("fr_FR.UTF-8") << QByteArray("fr:de") << "de"
            << QString::fromUtf8("Über Kestrun Online") << "german-second-choice";
        QTest::newRow("English") << QByteArray("en_US.UTF-8") << QByteArray() << "en"
                                 << "About Kestrun Online"
                                 << "english";
        // No French translation: English, the fallback.
        QTest::newRow("French") << QByteArray("fr_FR.UTF-8") << QByteArray("fr") << "en"
                                << "About Kestrun Online"
                                << "french-fallback";
    }

    void theLocaleChoosesTheLanguage()
    {
        // The texts were English whatever the system's language. The log stays English for
        // support, whatever the player reads.
        QFETCH(QByteArray, lang);
        QFETCH(QByteArray, language);
        QFETCH(QString, spoken);
        QFETCH(QString, aboutTitle);
        QFETCH(QString, screenshot);
        QFile::remove(TLauncherInstall::logFilePath());
        const QByteArray oldLang = qgetenv("LANG");
        const QByteArray oldLanguage = qgetenv("LANGUAGE");
        qputenv("DISPLAY", m_Display.toLatin1());
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("LANG", lang);
        qputenv("LANGUAGE", language);
        QProcess& launcher = m_Launcher.start({QStringLiteral("--show-ui")});
        qputenv("LANG", oldLang);
        qputenv("LANGUAGE", oldLanguage);
        qputenv("QT_QPA_PLATFORM", "offscreen");
        const auto stop = qScopeGuard([&launcher] {
            launcher.terminate();
            launcher.waitForFinished(kTimeoutMs);
        });

        const QString window = windowOf(launcher);
        QVERIFY2(!window.isEmpty(), logContent().right(1500));
        const QRect geometry = windowGeometry(window);
        QTRY_VERIFY_WITH_TIMEOUT(logContent().contains("Hint banner shows"), kTimeoutMs);
        QVERIFY2(logContent().contains("Texts shown in \"" + spoken.toLatin1() + "\""),
                 logContent().left(1500));
        QTRY_VERIFY_WITH_TIMEOUT((run({"windowfocus", "--sync", window}), !focusLog().isEmpty()),
                                 kTimeoutMs);
        // The tile's button, by its English name: installed when the whole test runs, not yet
        // when this one runs alone.
        const QString first = focusLog().value(0);
        QVERIFY2(first == "Play" || first == "Download", qPrintable(first));
        QVERIFY(saveArtifact("main-window-" + screenshot + ".png", geometry));

        // An installed tile has its check box as a stop of its own.
        QVERIFY2(tab(first == "Play" ? 6 : 5, QStringLiteral("About")),
                 qPrintable(focusLog().join(", ")));
        run({"key", "space"});
        QTRY_VERIFY_WITH_TIMEOUT(logContent().contains("About dialog shown"), kTimeoutMs);
        QString about;
        QTRY_VERIFY2_WITH_TIMEOUT(!(about = windowTitled(aboutTitle)).isEmpty(),
                                  qPrintable(aboutTitle), kTimeoutMs);
        const QRect aboutGeometry = windowGeometry(about);
        QVERIFY(saveArtifact("main-window-about-" + screenshot + ".png",
                             geometry.united(aboutGeometry)));
        run({"key", "Escape"});
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

    void keyboardReachesEveryControl()
    {
        // Tab never reached About, the links or the hints, nor showed where it was; Enter did
        // nothing on a tile or a hint, and Shift+F10 opened no menu. A hint must open its page
        // once for one click.
        QFile::remove(TLauncherInstall::logFilePath());
        QTemporaryDir browser;
        QVERIFY(
            testsupport::writeBytes(browser.filePath("xdg-open"),
                                    "#!/bin/sh\necho \"$1\" >> \"$(dirname \"$0\")/opened\"\n"));
        QVERIFY(QFile::setPermissions(browser.filePath("xdg-open"),
                                      QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(browser.path()) + ":" + path);
        qputenv("DISPLAY", m_Display.toLatin1());
        qputenv("QT_QPA_PLATFORM", "xcb");
        QProcess& launcher = m_Launcher.start({QStringLiteral("--show-ui")});
        // A launcher left running would turn the next test's start into a second instance.
        const auto stop = qScopeGuard([&launcher] {
            launcher.terminate();
            launcher.waitForFinished(kTimeoutMs);
        });
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("PATH", path);
        const auto opened = [&] { return readBytes(browser.filePath("opened")).count('\n'); };

        const QString window = windowOf(launcher);
        QVERIFY2(!window.isEmpty(), logContent().right(1500));
        const QRect geometry = windowGeometry(window);
        QTRY_VERIFY_WITH_TIMEOUT(logContent().contains("Hint banner shows"), kTimeoutMs);
        // Without a window manager nothing gives the new window the focus: the test does.
        QTRY_VERIFY_WITH_TIMEOUT((run({"windowfocus", "--sync", window}), !focusLog().isEmpty()),
                                 kTimeoutMs);
        QCOMPARE(focusLog().value(0), QString("Play"));
        QVERIFY(saveArtifact(QStringLiteral("main-window-keyboard-focus.png"), geometry));

        // Down the window: the tile, the hints, the maker, About, the links, and round again.
        const QStringList order = {"Default Client", "Season one", "New realm",
                                   "Patch notes",    "Halvern",    "About",
                                   "Twitter",        "Discord",    "Play"};
        for (const QString& name : order)
            QVERIFY2(tab(1, name), qPrintable(focusLog().join(", ")));

        // Enter on a hint opens its page, and so does one click, each once.
        QVERIFY2(tab(2, QStringLiteral("Season one")), qPrintable(focusLog().join(", ")));
        run({"key", "Return"});
        QTRY_COMPARE_WITH_TIMEOUT(opened(), 1, kTimeoutMs);
        // The picture shows above the caption: the caption lies below the picture's middle.
        const QPoint picture = centreOf(screenshot(), geometry, [](QRgb Pixel) {
            return qAbs(qRed(Pixel) - 0x6A) < 12 && qAbs(qGreen(Pixel) - 0x3D) < 12 &&
                   qAbs(qBlue(Pixel) - 0x9A) < 12;
        });
        QVERIFY(!picture.isNull());
        click(picture + QPoint(0, 40));
        QTRY_COMPARE_WITH_TIMEOUT(opened(), 2, kTimeoutMs);
        // A second opening follows the first at once; there is no signal to wait for instead.
        QTest::qWait(1000);
        QCOMPARE(opened(), 2);
        QCOMPARE(readBytes(browser.filePath("opened")),
                 QByteArray("https://www.kestrun-online.com/news\n").repeated(2));

        // About opens from the keyboard, over the window, in its dark look.
        QVERIFY2(tab(4, QStringLiteral("About")), qPrintable(focusLog().join(", ")));
        run({"key", "space"});
        QTRY_VERIFY_WITH_TIMEOUT(logContent().contains("About dialog shown"), kTimeoutMs);
        const QString about = run({"search", "--sync", "--name", "^About Kestrun Online$"});
        QVERIFY(!about.trimmed().isEmpty());
        const QRect aboutGeometry = windowGeometry(about.trimmed().section('\n', 0, 0));
        QVERIFY(geometry.intersects(aboutGeometry));
        QVERIFY(
            saveArtifact(QStringLiteral("main-window-about.png"), geometry.united(aboutGeometry)));
        run({"key", "Escape"});
        const int focusMoves = focusLog().size();
        QTRY_VERIFY_WITH_TIMEOUT(
            (run({"windowfocus", "--sync", window}), focusLog().size() > focusMoves), kTimeoutMs);

        // Shift+F10 opens the tile's menu below its button, and Enter chooses "Verify".
        QVERIFY2(tab(-6, QStringLiteral("Play")), qPrintable(focusLog().join(", ")));
        run({"key", "shift+F10"});
        QTRY_VERIFY_WITH_TIMEOUT(logContent().contains("Context menu of \"Play\" opened at"),
                                 kTimeoutMs);
        const QPoint menuAt = loggedPoint("Context menu of \"Play\" opened at");
        QVERIFY(saveArtifact(QStringLiteral("main-window-context-menu.png"), geometry));
        // Below the tile's button, which stands in the window's upper half.
        QVERIFY2(geometry.adjusted(0, 0, 0, -geometry.height() / 2).contains(menuAt),
                 qPrintable(QString("%1,%2").arg(menuAt.x()).arg(menuAt.y())));
        run({"key", "Return"});
        QTRY_VERIFY_WITH_TIMEOUT(logContent().contains("shows \"Verifying...\""), kTimeoutMs);
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
    // Names the launcher logged as it moved the keyboard focus, in order.
    static QStringList focusLog()
    {
        QStringList names;
        for (const QByteArray& line : logContent().split('\n')) {
            const qsizetype at = line.indexOf("Focus on \"");
            if (at >= 0)
                names << QString::fromUtf8(line.mid(at + 10)).section('"', 0, 0);
        }
        return names;
    }

    // The two numbers the last line with the text logged after it.
    static QPoint loggedPoint(const QByteArray& Text)
    {
        const QByteArray log = logContent();
        const qsizetype at = log.lastIndexOf(Text);
        if (at < 0)
            return {};
        const QList<QByteArray> words =
            log.mid(at + Text.size(), log.indexOf('\n', at) - at - Text.size())
                .simplified()
                .split(' ');
        return words.size() < 2 ? QPoint() : QPoint(words[0].toInt(), words[1].toInt());
    }

    // Presses Tab (Shift+Tab for a negative count); true once the focus lands on Name.
    bool tab(int Count, const QString& Name)
    {
        for (int i = 0; i < qAbs(Count); ++i)
            run({"key", Count > 0 ? "Tab" : "shift+Tab"});
        QDeadlineTimer deadline(kTimeoutMs);
        while (focusLog().value(focusLog().size() - 1) != Name && !deadline.hasExpired())
            QTest::qWait(50);
        return focusLog().value(focusLog().size() - 1) == Name;
    }

    // The launcher's own window: the demo client's bears the same name.
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
        // The server picks a free display and writes its number to standard output. Without
        // -noreset it resets when its last client leaves, and a launcher started in that moment
        // could not connect: between two tests nothing else holds a connection.
        m_XServer.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1280x800x24",
                                                 "-nolisten", "tcp", "-noreset"});
        QVERIFY(m_XServer.waitForStarted(kTimeoutMs));
        QTRY_VERIFY_WITH_TIMEOUT(m_XServer.canReadLine(), kTimeoutMs);
        m_Display = ":" + QString::fromLatin1(m_XServer.readLine()).trimmed();
    }

    // The launcher started with its window on this test's X server; the window's id, empty when
    // none came.
    QString showLauncher()
    {
        qputenv("DISPLAY", m_Display.toLatin1());
        qputenv("QT_QPA_PLATFORM", "xcb");
        QProcess& launcher = m_Launcher.start({QStringLiteral("--show-ui")});
        qputenv("QT_QPA_PLATFORM", "offscreen");
        m_LauncherPid = QString::number(launcher.processId());
        return windowOf(launcher);
    }

    QStringList visibleWindowsNamed(const QString& Pattern)
    {
        return run({"search", "--onlyvisible", "--name", Pattern}).split('\n', Qt::SkipEmptyParts);
    }

    // Opens the context menu at the point with the right button and takes its Entry-th entry.
    bool chooseFromContextMenu(const QPoint& At, int Entry)
    {
        run({"mousemove", QString::number(At.x()), QString::number(At.y()), "click", "3"});
        // The menu is a window of its own beside the main window.
        QElapsedTimer waited;
        waited.start();
        while (run({"search", "--onlyvisible", "--pid", m_LauncherPid})
                   .split('\n', Qt::SkipEmptyParts)
                   .size() < 2) {
            if (waited.elapsed() > kTimeoutMs)
                return false;
            QTest::qWait(100);
        }
        QStringList keys{"key", "--delay", "100"};
        for (int i = 0; i < Entry; ++i)
            keys << "Down";
        run(keys << "Return");
        return true;
    }
    // The tiles' part of the window: the hints' focus frame is as green as a Play button.
    static QRect aboveTheHints(const QRect& Window)
    {
        return Window.adjusted(0, 0, 0, -Window.height() * 2 / 5);
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
    QString windowOf(QProcess& Launcher)
    {
        const QString pid = QString::number(Launcher.processId());
        QElapsedTimer waited;
        waited.start();
        // Polled: the window comes when the launcher has its configuration, and no signal of
        // this process tells when.
        while (waited.elapsed() < kTimeoutMs) {
            if (Launcher.state() == QProcess::NotRunning) {
                qWarning().noquote() << "The launcher ended with" << Launcher.exitCode()
                                     << Launcher.readAllStandardError();
                return {};
            }
            for (const QString& id : run({"search", "--onlyvisible", "--name", "^Kestrun Online$"})
                                         .split('\n', Qt::SkipEmptyParts)) {
                if (run({"getwindowpid", id}).trimmed() == pid)
                    return id;
            }
            QTest::qWait(200);
        }
        return {};
    }

    // The window with exactly that title. xdotool's own search matches names as Latin-1, where
    // "Über" is not found.
    QString windowTitled(const QString& Title)
    {
        for (const QString& id :
             run({"search", "--name", "Kestrun Online"}).split('\n', Qt::SkipEmptyParts)) {
            const QString name = QString::fromUtf8(run({"getwindowname", id}).toLatin1()).trimmed();
            if (name == Title)
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
    QString m_LauncherPid;
    QProcess m_XServer;
    QString m_Display;
    TPublishedGame m_Game;
    std::unique_ptr<TNginxServer> m_pServer;
    TLauncherInstall m_Launcher;
};

QTEST_GUILESS_MAIN(TestMainWindowClicks)
#include "tst_mainwindowclicks.moc"
