// The main window and its tiles, built from a configuration of several packages. With
// KESTRUN_SCREENSHOT set to a path, the rendering test also saves the window there (see
// scripts/screenshot.sh, which runs it under Xvfb for the README).
#include "launcher/configuration/launcherconfigurationreader.h"
#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/installation/installationmanager.h"
#include "launcher/installation/packageinstallation.h" // declares the package pointer type
#include "launcher/ui/clickablelabel.h"
#include "launcher/ui/clientpackagelayoutitem.h"
#include "launcher/ui/darklook.h"
#include "launcher/ui/launchermainwindow.h"
#include "launcher/ui/progresstext.h"
#include "launcher/ui/qcontextpushbutton.h"
#include "launcher/ui/transferestimate.h"
#include "launcher/ui/uistyle.h"

#include "launcher/cdntrace/cloudflarecdntrace.h"
#include "launcher/ui/hintarea.h"
#include "shared/network/downloadpool.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"
#include "shared/translation/translationmanager.h"

#include "buildpaths.h"
#include "memorypeak.h"
#include "testfiles.h"
#include "testhttpserver.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QGroupBox>
#include <QInputDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QProgressBar>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <cmath>

using namespace orvik::launcher;

namespace {

QByteArray packageObject(int number, const QJsonObject& changes = {})
{
    QJsonObject package{
        {"name", "Realm " + QString::number(number)},
        {"directoryname", "realm" + QString::number(number)},
        {"builds",
         QJsonArray{QJsonObject{{"os", "linux"}, {"architecture", "x86_64"}, {"url", "p.json"}}}}};
    for (auto change = changes.begin(); change != changes.end(); ++change)
        package[change.key()] = change.value();
    return QJsonDocument(package).toJson(QJsonDocument::Compact);
}

// How high a text shows where Qt guesses its format, as in a tool tip: a local picture named as
// an image makes it tall.
int autoTextHeight(const QString& Text)
{
    QLabel label(Text);
    return label.sizeHint().height();
}

// Takes every link the desktop is asked to open, so no test hands one to the real desktop.
class TDesktopLinks : public QObject
{
    Q_OBJECT

public:
    TDesktopLinks()
    {
        for (const char* scheme : {"http", "https", "file", ""})
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~TDesktopLinks() override
    {
        for (const char* scheme : {"http", "https", "file", ""})
            QDesktopServices::unsetUrlHandler(scheme);
    }
    QList<QUrl> opened;

public slots:
    void open(const QUrl& Url) { opened.append(Url); }
};

} // namespace

// The desktop's notification service, as far as the launcher talks to it.
class TFakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList summaries;

public slots:
    uint Notify(const QString&, uint, const QString&, const QString& Summary, const QString&,
                const QStringList&, const QVariantMap&, int)
    {
        summaries << Summary;
        return uint(summaries.size());
    }
};

class TestLauncherMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        testsupport::useLauncherIdentity();
        startNotificationBus();
        qRegisterMetaType<std::shared_ptr<TPackage>>();
    }

    void init()
    {
        m_pAppDir = std::make_unique<QTemporaryDir>();
        QVERIFY(testsupport::writeBytes(m_pAppDir->filePath("launchersettings.ini"),
                                        "[DIRECTORIES]\npackages=packages\n"));
        m_pHelper = std::make_shared<TLauncherFilesystemHelper>(m_pAppDir->path());
    }

    void cleanup()
    {
        m_pWindow.reset();
        m_pManager.reset();
    }

    void fivePackagesMakeRowsOfFourAndOne()
    {
        makeWindow({ELocalPackageStatus::NotInstalled, ELocalPackageStatus::Installed,
                    ELocalPackageStatus::UpdateAvailable, ELocalPackageStatus::PartiallyInstalled,
                    ELocalPackageStatus::Installed});
        QCOMPARE(int(m_pWindow->tiles().size()), 5);
        auto* grid = m_pWindow->findChild<QGridLayout*>();
        QVERIFY(grid);
        QCOMPARE(grid->rowCount(), 2);
        QCOMPARE(grid->columnCount(), 4);
        QVERIFY(grid->itemAtPosition(1, 0));
        QVERIFY(!grid->itemAtPosition(1, 1));
        QCOMPARE(m_pWindow->width(), 800);
        QCOMPARE(m_pWindow->minimumHeight(), 450);
        QCOMPARE(m_pWindow->maximumHeight(), 600);
        QCOMPARE(m_pWindow->windowTitle(), QString("Kestrun Online"));
        QVERIFY(!m_pWindow->messageBox() || !m_pWindow->messageBox()->isVisible());
    }

    void defaultClientIsAnExclusiveChoice()
    {
        makeWindow({ELocalPackageStatus::Installed, ELocalPackageStatus::Installed,
                    ELocalPackageStatus::Installed});
        QSignalSpy changed(m_pWindow.get(), &TLauncherMainWindow::defaultChanged);
        checkbox(0)->setChecked(true);
        checkbox(2)->setChecked(true);
        QVERIFY(!checkbox(0)->isChecked());
        QVERIFY(checkbox(2)->isChecked());
        QCOMPARE(m_pWindow->defaultPackageIndex(), package(2)->getIndex());
        QCOMPARE(changed.count(), 2);

        checkbox(2)->setChecked(false);
        QCOMPARE(m_pWindow->defaultPackageIndex(), -1);
        QCOMPARE(changed.count(), 3);
        QCOMPARE(changed.last().at(0).value<std::shared_ptr<TPackage>>(), package(2));
        QCOMPARE(changed.last().at(1).toBool(), false);
        for (int i = 0; i < 3; ++i)
            QVERIFY(!checkbox(i)->isChecked());
    }

    void buttonFollowsTheStatus_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("colour");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<QStringList>("menu");
        QTest::addColumn<bool>("defaultChoice");
        QTest::addColumn<QString>("logo");
        // The button is an icon: a screen reader said nothing but "button" for it.
        QTest::addColumn<QString>("spoken");
        QTest::newRow("unknown") << 0 << "Red"
                                 << "" << QStringList() << false << "KestrunLogo_QT_disabled.png"
                                 << "Unavailable";
        QTest::newRow("not installed")
            << 1 << "Blue"
            << "Download" << QStringList() << false << "KestrunLogo_QT_disabled.png"
            << "Download";
        QTest::newRow("partially installed")
            << 2 << "Orange"
            << "Update" << QStringList() << false << "KestrunLogo_QT_disabled.png"
            << "Update";
        QTest::newRow("update available")
            << 3 << "Orange"
            << "Update" << QStringList() << false << "KestrunLogo_QT_disabled.png"
            << "Update";
        QTest::newRow("installed")
            << 4 << "Green"
            << "Play" << QStringList{"Verify"} << true << "KestrunLogo_QT.png"
            << "Play";
    }
    void buttonFollowsTheStatus()
    {
        QFETCH(int, status);
        QFETCH(QString, colour);
        QFETCH(QString, toolTip);
        QFETCH(QStringList, menu);
        QFETCH(bool, defaultChoice);
        QFETCH(QString, logo);
        QFETCH(QString, spoken);
        makeWindow({ELocalPackageStatus::NotInstalled});
        package(0)->setLocalStatus(ELocalPackageStatus(status)); // the tile follows the package
        TClientPackageLayoutItem* item = tile(0);
        QVERIFY(item->button()->styleSheet().contains("Button_" + colour + "_idle.png"));
        // Its first line; the sizes of an install follow.
        QCOMPARE(item->button()->toolTip().section('\n', 0, 0), toolTip);
        QCOMPARE(item->button()->size(), QSize(98, 40));
        QStringList actions;
        for (QAction* action : item->button()->menu().actions())
            actions << action->text();
        QCOMPARE(actions, menu);
        QCOMPARE(item->defaultClientCheckbox()->isVisibleTo(m_pWindow.get()), defaultChoice);
        QVERIFY(item->logoImagePath().endsWith(logo));
        QCOMPARE(item->logoLabel()->size(), QSize(196, 152));
        QCOMPARE(spokenText(item->button(), QAccessible::Name), spoken);
        QVERIFY(spokenText(item->button(), QAccessible::Description).contains("Realm 1"));
    }

    void clicksBecomeSignals()
    {
        makeWindow({ELocalPackageStatus::PartiallyInstalled, ELocalPackageStatus::Installed});
        QSignalSpy clicked(m_pWindow.get(), &TLauncherMainWindow::clientPackageButtonClicked);
        QSignalSpy verify(m_pWindow.get(), &TLauncherMainWindow::clientPackageVerifyButtonClicked);

        // No menu on an update: a right click does nothing.
        QContextMenuEvent onUpdate(QContextMenuEvent::Mouse, QPoint(5, 5), QPoint(5, 5));
        QCoreApplication::sendEvent(tile(0)->button(), &onUpdate);
        QVERIFY(!tile(0)->button()->menu().isVisible());

        QTest::mouseClick(tile(1)->button(), Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(clicked.first().at(0).value<std::shared_ptr<TPackage>>(), package(1));
        tile(1)->button()->menu().actions().first()->trigger();
        QCOMPARE(verify.count(), 1);
        QCOMPARE(verify.first().at(0).value<std::shared_ptr<TPackage>>(), package(1));
        QCOMPARE(clicked.count(), 1);
    }

    void progressTexts_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::newRow("1024") << 1024.0 << "C"
                              << "1024 B/s";
        QTest::newRow("1025") << 1025.0 << "C"
                              << "1.0 KB/s";
        QTest::newRow("mebi") << 1048576.0 << "C"
                              << "1048.6 KB/s";
        QTest::newRow("mebi and one") << 1048577.0 << "C"
                                      << "1.0 MB/s";
        QTest::newRow("gibi") << 1073741824.0 << "C"
                              << "1073.7 MB/s";
        QTest::newRow("past gibi") << 1073741825.0 << "C"
                                   << "1.1 GB/s";
        QTest::newRow("no sample") << 0.0 << "C"
                                   << "0 B/s";
        // German players read "1.5" as fifteen, and "1.048,6" as a thousand.
        QTest::newRow("German decimals") << 1073741825.0 << "de_DE"
                                         << "1,1 GB/s";
        QTest::newRow("German, no thousands") << 1048576.0 << "de_DE"
                                              << "1048,6 KB/s";
    }
    void progressTexts()
    {
        QFETCH(double, rate);
        QFETCH(QString, locale);
        QFETCH(QString, text);
        const QLocale before;
        QLocale::setDefault(QLocale(locale));
        const auto restore = qScopeGuard([&before] { QLocale::setDefault(before); });
        QCOMPARE(progresstext::rateText(rate), text);
    }

    void phaseShowsBytesAndBar()
    {
        makeWindow({ELocalPackageStatus::NotInstalled});
        tile(0)->onWriteProgress(123456789, 987654321);
        QCOMPARE(tile(0)->versionLabel()->text(), QString("123.5/987.7 MB"));
        QCOMPARE(tile(0)->progressBar()->value(), 1250);
        QCOMPARE(tile(0)->progressBar()->maximum(), 10000);
        QCOMPARE(tile(0)->progressBar()->format(), QString("Writing..."));
        // The bar shows the phase only: a screen reader heard neither value nor amounts.
        QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(tile(0)->progressBar());
        QVERIFY(bar && bar->valueInterface());
        QCOMPARE(bar->valueInterface()->currentValue().toInt(), 1250);
        QCOMPARE(bar->valueInterface()->maximumValue().toInt(), 10000);
        QCOMPARE(bar->text(QAccessible::Description), QString("Writing... 123.5/987.7 MB"));
    }

    // The counter fell from "25.3/25.5 MB" fetched to "17.9/25.2 MB" written when the download
    // ended, and the bar with it: one measure over fetching and writing only grows.
    void downloadProgressNeverRunsBackwards()
    {
        makeWindow({ELocalPackageStatus::NotInstalled});
        const TFileSize mega = 1000000;
        const struct
        {
            double seconds;
            TFileSize downloaded, written;
        } frames[] = {{0.3, 10 * mega, 0},
                      {0.6, 25300000, 9 * mega},
                      {0.9, 25500000, 17900000},
                      {1.2, 25500000, 25200000}};
        int lastBar = -1;
        double lastCounter = -1;
        for (const auto& frame : frames) {
            tile(0)->showDownloadProgress(frame.seconds, frame.downloaded, 25500000, frame.written,
                                          25200000);
            const int bar = tile(0)->progressBar()->value();
            const double counter = tile(0)->versionLabel()->text().section('/', 0, 0).toDouble();
            QVERIFY2(bar >= lastBar && counter >= lastCounter,
                     qPrintable(tile(0)->versionLabel()->text()));
            lastBar = bar;
            lastCounter = counter;
        }
        QCOMPARE(tile(0)->progressBar()->format(), QString("100 %"));
        QCOMPARE(tile(0)->versionLabel()->text(), QString("25.5/25.5 MB"));
    }

    // Frames 0.3 s apart read 67, 340, 50 and 215 KB/s: the speed shown jumped with each.
    void speedIsSmoothedAndTimeLeftFollows()
    {
        TTransferEstimate estimate;
        TFileSize bytes = 0;
        double seconds = 0;
        estimate.addSample(seconds, bytes);
        QList<double> shown;
        for (const TFileSize kilobytes : {67, 340, 50, 215, 67, 340, 50, 215}) {
            seconds += 0.3;
            bytes += kilobytes * 300; // kilobytes per second over 0.3 s
            estimate.addSample(seconds, bytes);
            double rate = 0;
            QVERIFY(estimate.rate(rate));
            shown << rate;
        }
        const auto [low, high] = std::minmax_element(shown.begin() + 2, shown.end());
        QVERIFY2(*high < 2 * *low, qPrintable(QString("%1 .. %2").arg(*low).arg(*high)));
        // A steady megabyte a second leaves two minutes for 120 MB.
        TTransferEstimate steady;
        for (int second = 0; second <= 30; ++second)
            steady.addSample(second, TFileSize(second) * 1000000);
        double left = 0;
        QVERIFY(steady.secondsLeft(120000000, left));
        QCOMPARE(progresstext::timeLeftText(left), QString("2 min left"));
    }

    // The space needed was found only after the player had pressed Download and waited for the
    // planning: the button now tells the sizes and the free space, and a first install that
    // cannot fit is refused at the click.
    void installThatCannotFitIsRefusedAtTheClick_data()
    {
        QTest::addColumn<QByteArray>("size");
        QTest::addColumn<bool>("starts");
        QTest::newRow("fits") << QByteArray("2500000") << true;
        QTest::newRow("900 TB") << QByteArray("900000000000000") << false;
    }
    void installThatCannotFitIsRefusedAtTheClick()
    {
        QFETCH(QByteArray, size);
        QFETCH(bool, starts);
        makeWindow({ELocalPackageStatus::NotInstalled});
        QByteArray document = "{\"version\": \"2\", \"files\": [{\"localfile\": \"world.pak\", "
                              "\"url\": \"w.bin\", \"unpackedsize\": " +
                              size + ", \"unpackedhash\": \"" + QByteArray(64, 'a') + "\"}]}";
        package(0)->getBuilds()[0]->m_pConfiguration =
            std::make_unique<TPackageConfigurationReader>(std::move(document), QByteArray(),
                                                          QUrl("https://cdn.test/"),
                                                          QUrl("https://cdn.test/"));
        m_pWindow =
            std::make_unique<TLauncherMainWindow>(m_pConfiguration, m_pPool, m_pManager.get());
        const QString tip = tile(0)->button()->toolTip();
        QVERIFY2(tip.startsWith("Download\nDownload: ") && tip.contains("\nFree: "),
                 qPrintable(tip));
        QCOMPARE(tip.contains("Not enough free space"), !starts);

        QSignalSpy clicked(m_pWindow.get(), &TLauncherMainWindow::clientPackageButtonClicked);
        tile(0)->button()->click();
        QCOMPARE(clicked.count(), starts ? 1 : 0);
        QStringList texts;
        for (const QMessageBox* box : m_pWindow->findChildren<QMessageBox*>())
            texts << box->text();
        QCOMPARE(texts.join("").contains("not enough free disk space"), !starts);
    }

    void noPackageForThisMachineIsAConnectionProblem()
    {
        makeWindow({});
        QVERIFY(m_pWindow->messageBox());
        QVERIFY(m_pWindow->messageBox()->isVisible());
        QCOMPARE(m_pWindow->messageBox()->windowTitle(), QString("Connection problem"));
        QVERIFY(m_pWindow->messageBox()->text().startsWith("Could not connect"));
    }

    void installationDrivesTheTile()
    {
        makeWindow({ELocalPackageStatus::NotInstalled});
        TPackageInstallation installation(package(0), m_pHelper);
        emit m_pManager->installationOrUpdateStarted(&installation);
        QVERIFY(tile(0)->progressBar()->isVisibleTo(m_pWindow.get()));
        QVERIFY(!tile(0)->button()->isVisibleTo(m_pWindow.get()));
        emit installation.verificationProgress(50, 100);
        QTRY_COMPARE(tile(0)->progressBar()->format(), QString("Verifying...")); // queued

        package(0)->setLocalStatus(ELocalPackageStatus::Installed);
        emit m_pManager->installationOrUpdateFinished(&installation);
        QVERIFY(!tile(0)->progressBar()->isVisibleTo(m_pWindow.get()));
        QVERIFY(tile(0)->button()->isVisibleTo(m_pWindow.get()));
        QCOMPARE(tile(0)->button()->toolTip(), QString("Play"));
    }

    // The player had no way to pause or cancel the one long thing the launcher does.
    void runningInstallationCanBePausedAndResumed()
    {
        makeWindow({ELocalPackageStatus::NotInstalled});
        TPackageInstallation installation(package(0), m_pHelper);
        emit m_pManager->installationOrUpdateStarted(&installation);
        const QList<QAction*> actions = tile(0)->progressBar()->actions();
        QStringList texts;
        for (const QAction* action : actions)
            texts << action->text();
        QCOMPARE(texts, QStringList({"Pause", "Cancel", "Limit download speed..."}));
        // The speed limit could be set only in the settings file beside the launcher.
        QSignalSpy chosen(m_pWindow.get(), &TLauncherMainWindow::maxDownloadRateChosen);
        actions.last()->trigger();
        auto* dialog = m_pWindow->findChild<QInputDialog*>();
        QVERIFY(dialog && dialog->isVisible());
        dialog->setDoubleValue(2.0);
        dialog->accept();
        QCOMPARE(m_pManager->maxDownloadRate().value_or(-1), qint64(2000000));
        QCOMPARE(chosen.count(), 1);

        QSignalSpy stops(tile(0), &TClientPackageLayoutItem::stopRequested);
        actions.first()->trigger();
        QCOMPARE(stops.count(), 1);
        QCOMPARE(stops.first().at(1).toBool(), true);

        installation.onDownloadFailed(EPackageDownloaderError::Stopped);
        emit m_pManager->installationOrUpdateFinished(&installation);
        QCOMPARE(tile(0)->button()->toolTip(), QString("Resume"));
        // Stopped by the player: no failure box.
        QVERIFY(m_pWindow->findChildren<QMessageBox*>().isEmpty());
    }

    // A pause was forgotten with the launcher: the next start offered a fresh Download. The key
    // lives in the players' settings, so its name must not change either.
    void pauseFromAnEarlierRunOffersToResume()
    {
        QSettings().setValue("downloads/paused", QStringList{"Realm 2"});
        auto forget = qScopeGuard([] { QSettings().remove("downloads/paused"); });
        makeWindow(
            {ELocalPackageStatus::PartiallyInstalled, ELocalPackageStatus::PartiallyInstalled});
        QCOMPARE(tile(0)->button()->toolTip().section('\n', 0, 0), QString("Update"));
        QCOMPARE(tile(1)->button()->toolTip(), QString("Resume"));
        QCOMPARE(tile(1)->detailLabel()->text(), QString("Paused"));
        QVERIFY(tile(0)->detailLabel()->isHidden());
    }

    void laterHintOfACategoryWins()
    {
        makeWindow({ELocalPackageStatus::Installed});
        m_pWindow->setHints(
            {hint("cat2", "Older news"), hint("cat9", "Elsewhere"), hint("cat2", "Newer news")});
        QCOMPARE(m_pWindow->hintArea()->hint(1).Title, QString("Newer news"));
        QCOMPARE(m_pWindow->hintArea()->caption(1)->text(), QString("Newer news"));
        QVERIFY(!m_pWindow->hintArea()->caption(0));
        QVERIFY(!m_pWindow->hintArea()->caption(2));
    }

    void hintsInAllThreeSlotsTakeTheSpacer_data()
    {
        QTest::addColumn<QStringList>("categories");
        QTest::addColumn<bool>("spacer");
        QTest::addColumn<bool>("banner");
        QTest::newRow("all three") << QStringList{"cat3", "cat1", "cat2"} << false << true;
        QTest::newRow("one missing") << QStringList{"cat1", "cat3"} << true << true;
        QTest::newRow("none") << QStringList() << true << false;
    }
    void hintsInAllThreeSlotsTakeTheSpacer()
    {
        QFETCH(QStringList, categories);
        QFETCH(bool, spacer);
        QFETCH(bool, banner);
        makeWindow({ELocalPackageStatus::Installed});
        std::vector<shared::THint> hints;
        for (const QString& category : categories)
            hints.push_back(hint(category, "News of " + category));
        m_pWindow->setHints(hints);
        QCOMPARE(m_pWindow->hasSpacer(), spacer);
        QCOMPARE(m_pWindow->hintArea()->isVisibleTo(m_pWindow.get()), banner);
        // The footer with its links stays whatever the hints.
        QVERIFY(m_pWindow->hintGroupBox()->isVisibleTo(m_pWindow.get()));
    }

    void hintImagesDoNotHoldUpTheWindow()
    {
        // Fetched synchronously, a stalled image server froze the window without limit.
        testsupport::TTestHttpServer server;
        QVERIFY(server.start());
        testsupport::TTestHttpRoute stalled;
        stalled.delayMs = 30000;
        server.setRoute("/stalled.png", stalled);
        server.serve("/news.png", redPng());
        makeWindow({ELocalPackageStatus::Installed}, &server);

        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start(10);
        QElapsedTimer clock;
        clock.start();
        m_pWindow->setHints({hint("cat1", "Stalled", server.url("/stalled.png")),
                             hint("cat2", "Arrives", server.url("/news.png"))});
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(m_pWindow->hintArea()->caption(0)->isVisibleTo(m_pWindow.get()));
        QTRY_VERIFY_WITH_TIMEOUT(ticks >= 20, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(
            !m_pWindow->hintArea()->image(1)->pixmap(Qt::ReturnByValue).isNull(), 10000);
        const QPixmap image = m_pWindow->hintArea()->image(1)->pixmap(Qt::ReturnByValue);
        QVERIFY(image.width() >= 290 && image.height() >= 80);
        QVERIFY(m_pWindow->hintArea()->image(0)->pixmap(Qt::ReturnByValue).isNull());
    }

    void downloadFailedFillsInTheTraceInPlace()
    {
        testsupport::TTestHttpServer server;
        QVERIFY(server.start());
        testsupport::TTestHttpRoute trace;
        trace.body = "fl=7f\nts=1.5\ncolo=AMS\nip=192.0.2.1\n";
        trace.delayMs = 200;
        server.setRoute("/trace", trace);
        makeWindow({ELocalPackageStatus::NotInstalled}, &server);
        auto cdnTrace = std::make_shared<TCloudflareCdnTrace>(server.url("/trace"), m_pPool);
        m_pWindow = std::make_unique<TLauncherMainWindow>(m_pConfiguration, m_pPool,
                                                          m_pManager.get(), cdnTrace);
        m_pWindow->show();

        TPackageInstallation installation(package(0), m_pHelper);
        installation.onDownloadFailed(EPackageDownloaderError::DownloadFailed);
        emit m_pManager->installationOrUpdateFinished(&installation);
        QMessageBox* box = m_pWindow->messageBox();
        QVERIFY(box && box->isVisible());
        QCOMPARE(box->windowTitle(), QString("Download failed"));
        QVERIFY2(box->text().endsWith("Diagnostic information: Loading, please wait..."),
                 qPrintable(box->text()));
        QTRY_VERIFY_WITH_TIMEOUT(
            box->text().endsWith("Diagnostic information: FL: 7f, TS: 1.5, COLO: AMS, IP: "
                                 "192.0.2.1"),
            10000);
        QCOMPARE(m_pWindow->messageBox(), box);
    }

    void endOfAnInstallationIsTold_data()
    {
        QTest::addColumn<bool>("verifyOnly");
        QTest::addColumn<bool>("inFront");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QStringList>("notified");
        // A successful Verify showed nothing at all; a player elsewhere learned of no end.
        QTest::newRow("verified, away") << true << false << QString("Kestrun Online is intact.")
                                        << QStringList{"Kestrun Online is intact"};
        QTest::newRow("verified, in front")
            << true << true << QString("Kestrun Online is intact.") << QStringList{};
        QTest::newRow("installed, away")
            << false << false << QString() << QStringList{"Kestrun Online is ready"};
    }
    void endOfAnInstallationIsTold()
    {
        QFETCH(bool, verifyOnly);
        QFETCH(bool, inFront);
        QFETCH(QString, box);
        QFETCH(QStringList, notified);
        if (!m_bNotificationBus)
            QSKIP("dbus-daemon is not installed: run scripts/install-deps.sh");
        TFakeNotifications notifications;
        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY(bus.registerObject("/org/freedesktop/Notifications", &notifications,
                                   QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerService("org.freedesktop.Notifications"));
        makeWindow({ELocalPackageStatus::NotInstalled});
        if (inFront) {
            m_pWindow->show();
            m_pWindow->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(m_pWindow.get()));
        }
        TPackageInstallation installation(package(0), m_pHelper);
        if (!verifyOnly) {
            // An empty build planned in an empty folder: planned, fetched nothing, done.
            installation.setInstallationDirectory(QDir(m_pAppDir->filePath("packages")));
            QSignalSpy downloaded(&installation, &TPackageInstallation::downloadFinished);
            installation.startPlanning(*package(0)->getConfiguration(),
                                       TPackageConfigurationReader(), false);
            QVERIFY(downloaded.wait(10000));
        }
        emit m_pManager->installationOrUpdateFinished(&installation);

        QStringList texts;
        for (const QMessageBox* shown : m_pWindow->findChildren<QMessageBox*>())
            texts << shown->text();
        const QString shown = texts.join("|");
        QVERIFY2(box.isEmpty() ? !shown.contains("intact") : shown.startsWith(box),
                 qPrintable(shown));
        if (!notified.isEmpty())
            QTRY_COMPARE_WITH_TIMEOUT(notifications.summaries, notified, 10000);
        // Nothing more arrives: a round trip through the bus comes back first.
        QVERIFY(bus.interface()->isServiceRegistered("org.freedesktop.Notifications").value());
        QCoreApplication::processEvents();
        QCOMPARE(notifications.summaries, notified);
        bus.unregisterService("org.freedesktop.Notifications");
        bus.unregisterObject("/org/freedesktop/Notifications");
    }

    void documentTextIsShownAsWritten_data()
    {
        QTest::addColumn<QString>("where");
        QTest::newRow("hint caption") << "caption";
        QTest::newRow("hint link as tool tip") << "hint tip";
        QTest::newRow("package name") << "name";
        QTest::newRow("package name as tool tip") << "logo tip";
        QTest::newRow("download failed") << "download failed";
        QTest::newRow("installation failed") << "installation failed";
    }
    void documentTextIsShownAsWritten()
    {
        // Texts from servers were taken for rich text where they looked like it: an image in
        // a caption naming /dev/zero was read until the memory ran out. A readable picture of
        // 900 pixels' height stands in for the device.
        QFETCH(QString, where);
        QTemporaryDir directory;
        QImage tall(2, 900, QImage::Format_RGB32);
        tall.fill(Qt::green);
        QVERIFY(tall.save(directory.filePath("tall.png")));
        const QString hostile = "<img src=\"" + directory.filePath("tall.png") + "\">News";
        const bool inName = where == "name" || where == "logo tip" || where.endsWith("failed");
        makeWindow({ELocalPackageStatus::NotInstalled}, nullptr,
                   inName ? QJsonObject{{"name", hostile}} : QJsonObject(), true);
        shared::THint news = hint("cat1", where == "caption" ? hostile : "News");
        if (where == "hint tip")
            news.Url = hostile;
        m_pWindow->setHints({news});
        TPackageInstallation installation(package(0), m_pHelper);
        if (where.endsWith("failed")) {
            installation.onDownloadFailed(where == "download failed"
                                              ? EPackageDownloaderError::DownloadFailed
                                              : EPackageDownloaderError::SavingOperationFailed);
            emit m_pManager->installationOrUpdateFinished(&installation);
        }

        THintArea* hints = m_pWindow->hintArea();
        QList<QLabel*> labels; // labels whose format the launcher chooses
        QStringList tips;      // tool tips, whose format Qt guesses
        if (where == "caption")
            labels << hints->caption(0);
        if (where == "hint tip")
            tips << hints->caption(0)->toolTip() << hints->image(0)->toolTip();
        if (where == "logo tip")
            tips << tile(0)->logoLabel()->toolTip();
        for (QLabel* label : m_pWindow->findChildren<QLabel*>()) {
            if ((where == "name" && label->text() == hostile) ||
                (where.endsWith("failed") && label->objectName() == "qt_msgbox_label"))
                labels << label;
        }
        QVERIFY(!labels.isEmpty() || !tips.isEmpty());
        for (QLabel* label : labels)
            QVERIFY2(label->sizeHint().height() < 300, qPrintable(label->text()));
        for (const QString& tip : tips)
            QVERIFY2(autoTextHeight(tip) < 300, qPrintable(tip));
        if (where == "caption")
            QCOMPARE(hints->caption(0)->text(), hostile);
    }

    void onlyWebLinksReachTheDesktop_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("opened");
        QTest::newRow("https") << "https://www.kestrun-online.com/news" << true;
        QTest::newRow("local file") << "file:///etc/passwd" << false;
        QTest::newRow("program") << "/usr/bin/xterm" << false;
        QTest::newRow("launcher entry") << "file:///usr/share/applications/xterm.desktop" << false;
    }
    void onlyWebLinksReachTheDesktop()
    {
        // A click on a hint or a package logo handed its link to the desktop whatever it was,
        // which opened files, programs and launcher entries alike.
        QFETCH(QString, link);
        QFETCH(bool, opened);
        TDesktopLinks desktop;
        makeWindow({ELocalPackageStatus::Installed}, nullptr,
                   QJsonObject{{"logolinktarget", link}});
        shared::THint news = hint("cat1", "News");
        news.Url = link;
        m_pWindow->setHints({news});
        m_pWindow->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_pWindow.get()));
        QTest::mouseClick(m_pWindow->hintArea()->caption(0), Qt::LeftButton);
        QTest::mouseClick(m_pWindow->hintArea()->image(0), Qt::LeftButton);
        QLabel* logo = tile(0)->logoLabel();
        QTest::mouseClick(logo, Qt::LeftButton, {}, logo->rect().center());
        QCOMPARE(desktop.opened.size(), opened ? 3 : 0);
        for (const QUrl& url : desktop.opened)
            QCOMPARE(url, QUrl(link));
    }

    void hintImageOfAnyAnswerStaysSmall()
    {
        // Hint images had no limit: an endless answer grew the launcher by gigabytes, and an
        // address of a local device was read just the same.
        testsupport::TTestHttpServer server;
        QVERIFY(server.start());
        testsupport::TTestHttpRoute endless;
        endless.body = QByteArray(65536, 'x');
        endless.streamBytes = testsupport::TTestHttpRoute::kEndless;
        server.setRoute("/endless.png", endless);
        makeWindow({ELocalPackageStatus::Installed}, &server);
        QSignalSpy failed(m_pPool.get(), &shared::TDownloadPool::failed);
        QVERIFY(testsupport::resetPeakResident());

        m_pWindow->setHints({hint("cat1", "Device", QUrl("file:///dev/zero"))});
        QCOMPARE(m_pPool->getNumberOfOutstandingDownloads(), std::size_t(0));
        m_pWindow->setHints({hint("cat2", "Endless", server.url("/endless.png"))});
        QTRY_VERIFY_WITH_TIMEOUT(!failed.isEmpty() || testsupport::peakResidentKiB() >
                                                          testsupport::kMemoryCeilingKiB,
                                 30000);
        QVERIFY2(testsupport::peakResidentKiB() < testsupport::kMemoryCeilingKiB,
                 qPrintable(QString::number(testsupport::peakResidentKiB())));
        QVERIFY(m_pWindow->hintArea()->image(1)->pixmap(Qt::ReturnByValue).isNull());
    }

    void keyboardReachesEveryControl()
    {
        // Tab stopped at the tiles only: About, the links and the hints were out of reach, and
        // Enter did nothing on a tile's button.
        TDesktopLinks desktop;
        makeWindow({ELocalPackageStatus::Installed, ELocalPackageStatus::NotInstalled});
        m_pWindow->setHints({hint("cat2", "New realm"), hint("cat1", "Season one")});
        m_pWindow->show();
        QVERIFY(QTest::qWaitForWindowActive(m_pWindow.get()));
        QCOMPARE(QApplication::focusWidget(), tile(0)->button());

        QStringList order;
        for (int i = 0; i < 10; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order << QApplication::focusWidget()->accessibleName();
        }
        QCOMPARE(order,
                 QStringList({"Default Client", "Download", "Season one", "New realm", "Halvern",
                              "About", "Twitter", "Discord", "Play", "Default Client"}));

        QSignalSpy clicked(m_pWindow.get(), &TLauncherMainWindow::clientPackageButtonClicked);
        QTest::keyClick(tile(1)->button(), Qt::Key_Return);
        QCOMPARE(clicked.count(), 1);
        QTest::keyClick(m_pWindow->hintArea()->caption(0), Qt::Key_Space);
        QTest::keyClick(m_pWindow->hintArea()->caption(1), Qt::Key_Enter);
        QCOMPARE(desktop.opened, QList<QUrl>({QUrl("https://www.kestrun-online.com/news/cat1"),
                                              QUrl("https://www.kestrun-online.com/news/cat2")}));
        QTest::keyClick(m_pWindow->aboutLabel(), Qt::Key_Return);
        QTRY_VERIFY(aboutBox() && aboutBox()->isVisible());
    }

    void contextMenuFromTheKeyboard_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("menuKey");
        QTest::addColumn<bool>("opens");
        QTest::newRow("menu key") << 4 << true << true;
        QTest::newRow("shift F10") << 4 << false << true;
        QTest::newRow("shift F10 without a menu") << 1 << false << false;
    }
    void contextMenuFromTheKeyboard()
    {
        // Shift+F10 opened nothing, and from the Menu key the menu opened at the button's corner
        // with no entry chosen, so Enter did not verify.
        QFETCH(int, status);
        QFETCH(bool, menuKey);
        QFETCH(bool, opens);
        makeWindow({ELocalPackageStatus(status)});
        m_pWindow->show();
        QVERIFY(QTest::qWaitForWindowActive(m_pWindow.get()));
        QContextPushButton* button = tile(0)->button();
        QSignalSpy verify(m_pWindow.get(), &TLauncherMainWindow::clientPackageVerifyButtonClicked);
        if (menuKey) {
            QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(0, 0),
                                    button->mapToGlobal(QPoint(0, 0)));
            QCoreApplication::sendEvent(button, &event);
        } else {
            QTest::keyClick(button, Qt::Key_F10, Qt::ShiftModifier);
        }
        QCOMPARE(button->menu().isVisible(), opens);
        if (!opens)
            return;
        QCOMPARE(button->menu().pos(), button->mapToGlobal(button->rect().bottomLeft()));
        QVERIFY(button->menu().activeAction());
        QTest::keyClick(&button->menu(), Qt::Key_Return);
        QCOMPARE(verify.count(), 1);
    }

    void everyControlHasANameAndADescription()
    {
        makeWindow({ELocalPackageStatus::Installed, ELocalPackageStatus::NotInstalled}, nullptr,
                   QJsonObject{{"logolinktarget", "https://www.kestrun-online.com/"}});
        m_pWindow->setHints({hint("cat1", "Season one"), hint("cat3", "Patch notes")});
        QList<QWidget*> controls;
        for (QWidget* widget : m_pWindow->findChildren<QWidget*>()) {
            if ((widget->focusPolicy() & Qt::TabFocus) || qobject_cast<QProgressBar*>(widget) ||
                widget == tile(0)->logoLabel() || widget == m_pWindow->hintArea()->image(0))
                controls << widget;
        }
        QVERIFY(controls.size() >= 14);
        for (QWidget* control : controls) {
            const QString what = control->metaObject()->className() + QString(" ") +
                                 spokenText(control, QAccessible::Name);
            QVERIFY2(!spokenText(control, QAccessible::Name).isEmpty(), qPrintable(what));
            QVERIFY2(!spokenText(control, QAccessible::Description).isEmpty(), qPrintable(what));
        }
    }

    void textsStandOutFromWhatIsBehind_data()
    {
        // Gold text on the gold fill of a progress bar stood at 1.9:1, a caption over a light
        // picture at 3.5:1.
        QTest::addColumn<QColor>("text");
        QTest::addColumn<QColor>("behind");
        const QColor white(Qt::white);
        QTest::newRow("progress on the fill's top") << uistyle::kTextOnGold << uistyle::kGoldTop;
        QTest::newRow("progress on the fill's bottom")
            << uistyle::kTextOnGold << uistyle::kGoldBottom;
        QTest::newRow("progress on the groove")
            << uistyle::kText << artworkOver("ProgressBar_BG.png", white);
        QTest::newRow("caption on a white picture")
            << uistyle::kText << over(uistyle::kCaptionShade, white);
        QTest::newRow("tile texts")
            << uistyle::kText << artworkOver("clientpackage-background.png", white);
        QTest::newRow("version in the footer")
            << uistyle::kText << artworkOver("hint-background.png", white);
        QTest::newRow("button tool tip") << QColor("#3F3F3F") << QColor("#c0c0c0");
        const QPalette dark = darklook::palette();
        QTest::newRow("dialog text")
            << dark.color(QPalette::WindowText) << dark.color(QPalette::Window);
        QTest::newRow("dialog button")
            << dark.color(QPalette::ButtonText) << dark.color(QPalette::Button);
        QTest::newRow("dialog link") << dark.color(QPalette::Link) << dark.color(QPalette::Window);
        QTest::newRow("chosen menu entry")
            << dark.color(QPalette::HighlightedText) << dark.color(QPalette::Highlight);
    }
    void textsStandOutFromWhatIsBehind()
    {
        QFETCH(QColor, text);
        QFETCH(QColor, behind);
        const double ratio = (luminance(text) + 0.05) / (luminance(behind) + 0.05);
        const double contrast = ratio < 1 ? 1 / ratio : ratio;
        QVERIFY2(contrast >= 4.5, qPrintable(QString::number(contrast, 'f', 2)));
    }

    void dialogsAndMenusAreDark()
    {
        // Boxes and the context menu came in the desktop's light colours over the dark window.
        makeWindow({});
        QVERIFY(m_pWindow->messageBox() && m_pWindow->messageBox()->isVisible());
        QVERIFY(luminance(m_pWindow->messageBox()->palette().color(QPalette::Window)) < 0.05);
        makeWindow({ELocalPackageStatus::Installed});
        m_pWindow->show();
        m_pWindow->onAboutDialogRequested("about");
        QTRY_VERIFY(aboutBox() && aboutBox()->isVisible());
        TPackageInstallation installation(package(0), m_pHelper);
        installation.onDownloadFailed(EPackageDownloaderError::SavingOperationFailed);
        emit m_pManager->installationOrUpdateFinished(&installation);
        QList<QWidget*> windows{aboutBox(), &tile(0)->button()->menu()};
        for (QMessageBox* box : m_pWindow->findChildren<QMessageBox*>())
            windows << box;
        QVERIFY(windows.size() >= 3);
        for (QWidget* window : windows) {
            window->ensurePolished();
            const QPalette palette = window->palette();
            QVERIFY2(luminance(palette.color(QPalette::Window)) < 0.05,
                     window->metaObject()->className());
            QCOMPARE(palette.color(QPalette::WindowText), uistyle::kText);
            QCOMPARE(palette.color(QPalette::Link), uistyle::kLink);
            // The window's style sheet stops palettes from reaching a dialog's buttons: they,
            // and the OK button a message box adds when shown, came in light colours.
            for (const QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
                QCOMPARE(button->palette().color(QPalette::Button), uistyle::kDialogButton);
                QCOMPARE(button->palette().color(QPalette::ButtonText), uistyle::kText);
            }
        }
    }

    void hintFramesKeepTheSlant()
    {
        // The frame lit up as a rectangle: beside each slanted edge a bright wedge showed.
        makeWindow({ELocalPackageStatus::Installed});
        m_pWindow->setHints({hint("cat1", "One"), hint("cat2", "Two"), hint("cat3", "Three")});
        m_pWindow->show();
        QVERIFY(QTest::qWaitForWindowActive(m_pWindow.get()));
        THintArea* hints = m_pWindow->hintArea();
        const QRect frame(0, 0, 286, 84);
        const QPoint topRight = frame.topRight() + QPoint(-3, 3);
        const QPoint bottomRight = frame.bottomRight() + QPoint(-3, -3);
        const QPoint bottomLeft = frame.bottomLeft() + QPoint(3, -3);
        const QPoint topLeft = frame.topLeft() + QPoint(3, 3);
        QVERIFY(hints->frame(0)->mask().contains(topRight));
        QVERIFY(!hints->frame(0)->mask().contains(bottomRight));
        QVERIFY(!hints->frame(1)->mask().contains(topLeft));
        QVERIFY(!hints->frame(1)->mask().contains(bottomRight));
        QVERIFY(!hints->frame(2)->mask().contains(topLeft));
        QVERIFY(hints->frame(2)->mask().contains(bottomLeft));

        // The keyboard lights the same frame the mouse does.
        hints->caption(1)->setFocus(Qt::TabFocusReason);
        QVERIFY(hints->frame(1)->property("keyboardFocus").toBool());
        hints->caption(2)->setFocus(Qt::TabFocusReason);
        QVERIFY(!hints->frame(1)->property("keyboardFocus").toBool());
    }

    void clickOnAHintOpensItOnce()
    {
        // Every press opened the link: the second press of a double click opened it again.
        TDesktopLinks desktop;
        makeWindow({ELocalPackageStatus::Installed});
        m_pWindow->setHints({hint("cat1", "News")});
        m_pWindow->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_pWindow.get()));
        QLabel* caption = m_pWindow->hintArea()->caption(0);
        const QPoint at = caption->rect().center();
        QTest::mousePress(caption, Qt::LeftButton, {}, at);
        QTest::mouseRelease(caption, Qt::LeftButton, {}, at);
        QMouseEvent second(QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton, {});
        QCoreApplication::sendEvent(caption, &second);
        QTest::mouseRelease(caption, Qt::LeftButton, {}, at);
        QCOMPARE(desktop.opened.size(), 1);
        // A press that ends outside the caption opens nothing.
        QTest::mousePress(caption, Qt::LeftButton, {}, at);
        QTest::mouseRelease(caption, Qt::LeftButton, {}, QPoint(-5, -5));
        QCOMPARE(desktop.opened.size(), 1);
    }

    void germanTextsFitTheTile_data()
    {
        QTest::addColumn<int>("phase");
        QTest::addColumn<QString>("shown");
        QTest::newRow("scanning") << 0 << "Scannen...";
        QTest::newRow("writing") << 1 << "Schreiben...";
        QTest::newRow("verifying") << 2 << QString::fromUtf8("Prüfen...");
        QTest::newRow("downloading") << 3 << "150.0 KB/s, noch 1 h 51 min";
    }

    // German words are longer than English ones: a phase cut off at the edge of the bar, or a
    // check box or time left at the edge of the tile, looks unfinished to a German player.
    void germanTextsFitTheTile()
    {
        QFETCH(int, phase);
        QFETCH(QString, shown);
        orvik::shared::TTranslationManager german;
        QVERIFY(german.installTranslation("launcher", KESTRUN_BIN_DIR, QLocale("de_DE")));
        makeWindow({ELocalPackageStatus::Installed, ELocalPackageStatus::NotInstalled});
        m_pWindow->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_pWindow.get()));
        QCheckBox* box = checkbox(0);
        QCOMPARE(box->text(), QString("Standard-Client"));
        QVERIFY2(box->sizeHint().width() <= box->width(),
                 qPrintable(QString("%1 > %2").arg(box->sizeHint().width()).arg(box->width())));

        TClientPackageLayoutItem* item = tile(1);
        TPackageInstallation installation(package(1), m_pHelper);
        emit m_pManager->installationOrUpdateStarted(&installation);
        const TFileSize mega = 1000000;
        if (phase == 0)
            item->onScanProgress(mega, 9 * mega);
        else if (phase == 1)
            item->onWriteProgress(mega, 9 * mega);
        else if (phase == 2)
            item->onVerificationProgress(mega, 9 * mega);
        else {
            // Slow enough for hours and minutes left, the longest time there is.
            item->showDownloadProgress(1, 0, 999 * mega, 0, 999 * mega);
            item->showDownloadProgress(11, 1500000, 999 * mega, 0, 999 * mega);
        }
        QWidget* where = phase == 3 ? static_cast<QWidget*>(item->detailLabel())
                                    : static_cast<QWidget*>(item->progressBar());
        const QString text = phase == 3 ? item->detailLabel()->text() : item->progressBar()->text();
        QVERIFY2(text.endsWith(shown), qPrintable(text));
        // The detail label came out of hiding: its place is given once the layouts have run.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        where->ensurePolished();
        const int needed = where->fontMetrics().horizontalAdvance(text);
        QVERIFY2(needed <= where->contentsRect().width(),
                 qPrintable(QString("\"%1\" needs %2 of %3 pixels")
                                .arg(text)
                                .arg(needed)
                                .arg(where->contentsRect().width())));
        package(1)->setLocalStatus(ELocalPackageStatus::Installed);
        emit m_pManager->installationOrUpdateFinished(&installation);
    }

    void rendersForTheReadme()
    {
        makeWindow({ELocalPackageStatus::Installed, ELocalPackageStatus::UpdateAvailable,
                    ELocalPackageStatus::NotInstalled, ELocalPackageStatus::Installed,
                    ELocalPackageStatus::NotInstalled});
        m_pWindow->setDefault(package(0), true);
        TPackageInstallation installation(package(2), m_pHelper);
        emit m_pManager->installationOrUpdateStarted(&installation);
        // Half a minute at a steady 12 MB/s, so the picture shows the percentage, speed and time.
        for (int second = 1; second <= 30; ++second)
            tile(2)->showDownloadProgress(second, 12000000 * TFileSize(second), 800000000,
                                          11000000 * TFileSize(second), 1024000000);
        m_pWindow->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_pWindow.get()));
        // The speed and time line used to make the installing tile's box taller than its row.
        const QRect installing = tile(2)->progressBar()->parentWidget()->geometry();
        const QRect installed = tile(0)->button()->parentWidget()->geometry();
        QCOMPARE(installing.top(), installed.top());
        QCOMPARE(installing.size(), installed.size());
        const QImage image = m_pWindow->grab().toImage();
        QCOMPARE(image.width(), 800 * image.devicePixelRatio());
        const QString path = qEnvironmentVariable("KESTRUN_SCREENSHOT");
        if (!path.isEmpty())
            QVERIFY(image.save(path));
    }

private:
    static QString spokenText(QWidget* pWidget, QAccessible::Text Kind)
    {
        QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(pWidget);
        return spoken ? spoken->text(Kind) : QString();
    }

    // WCAG relative luminance.
    static double luminance(const QColor& Colour)
    {
        const auto channel = [](double Value) {
            return Value <= 0.04045 ? Value / 12.92 : std::pow((Value + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(Colour.redF()) + 0.7152 * channel(Colour.greenF()) +
               0.0722 * channel(Colour.blueF());
    }

    static QColor over(const QColor& Top, const QColor& Below)
    {
        const double a = Top.alphaF();
        return QColor::fromRgbF(Top.redF() * a + Below.redF() * (1 - a),
                                Top.greenF() * a + Below.greenF() * (1 - a),
                                Top.blueF() * a + Below.blueF() * (1 - a));
    }

    // The middle of a piece of artwork, over what shows through it at worst.
    static QColor artworkOver(const QString& Name, const QColor& Below)
    {
        const QImage image(uistyle::image(Name));
        return over(image.pixelColor(image.rect().center()), Below);
    }

    QMessageBox* aboutBox() const
    {
        for (QMessageBox* box : m_pWindow->findChildren<QMessageBox*>()) {
            if (box->windowTitle() == qtTrId("launcher.about.title"))
                return box;
        }
        return nullptr;
    }

    static shared::THint hint(const QString& Category, const QString& Title, const QUrl& Image = {})
    {
        shared::THint hint;
        hint.Category = Category;
        hint.Title = Title;
        hint.RichText = Title;
        hint.ImageUrl = Image.toString();
        hint.Url = "https://www.kestrun-online.com/news/" + Category;
        return hint;
    }

    static QByteArray redPng()
    {
        QImage red(40, 20, QImage::Format_RGB32);
        red.fill(Qt::red);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        red.save(&buffer, "PNG");
        return png;
    }

    // A session bus of the test's own, started before anything asks for the session bus.
    void startNotificationBus()
    {
        if (QStandardPaths::findExecutable("dbus-daemon").isEmpty())
            return;
        // Its socket in the test's own temporary folder: the system's session setup puts it in
        // /tmp, where every run left one behind.
        m_Bus.start("dbus-daemon", {"--session", "--nofork", "--print-address",
                                    "--address=unix:tmpdir=" + QDir::tempPath()});
        if (!m_Bus.waitForStarted() || !m_Bus.waitForReadyRead(10000))
            return;
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_Bus.readLine().trimmed());
        m_bNotificationBus = QDBusConnection::sessionBus().isConnected();
    }

    // FirstPackage changes members of the first package's object in the configuration.
    void makeWindow(const std::vector<ELocalPackageStatus>& Statuses,
                    testsupport::TTestHttpServer* pServer = nullptr,
                    const QJsonObject& FirstPackage = {}, bool ShowNames = false)
    {
        m_pPool.reset();
        if (pServer)
            m_pPool = std::make_shared<shared::TDownloadPool>(
                6,
                std::make_shared<shared::QNetworkAccessManagerWrapper>(
                    std::make_shared<QNetworkAccessManager>()),
                true);
        QByteArrayList packages;
        for (size_t i = 0; i < Statuses.size(); ++i)
            packages << packageObject(int(i) + 1, i == 0 ? FirstPackage : QJsonObject());
        m_pConfiguration = std::make_shared<TLauncherConfigurationReader>(
            "{\"showpackagenames\": " + QByteArray(ShowNames ? "true" : "false") +
                ", \"packages\": [" + packages.join(", ") + "]}",
            QUrl("https://cdn.test/"));
        for (const auto& package : m_pConfiguration->getPackages())
            package->getBuilds()[0]->m_pConfiguration =
                std::make_unique<TPackageConfigurationReader>(
                    QByteArray("{\"version\": \"1.4\", \"files\": []}"), QByteArray(),
                    QUrl("https://cdn.test/"), QUrl("https://cdn.test/"));
        m_pManager = std::make_unique<TInstallationManager>(m_pConfiguration, m_pHelper);
        for (size_t i = 0; i < Statuses.size(); ++i)
            m_pConfiguration->getPackages()[i]->setLocalStatus(Statuses[i]);
        m_pWindow =
            std::make_unique<TLauncherMainWindow>(m_pConfiguration, m_pPool, m_pManager.get());
    }

    std::shared_ptr<TPackage> package(int i) const { return m_pConfiguration->getPackages()[i]; }
    TClientPackageLayoutItem* tile(int i) const
    {
        return m_pWindow->tiles().at(package(i)->getIndex());
    }
    QCheckBox* checkbox(int i) const { return tile(i)->defaultClientCheckbox(); }

    std::unique_ptr<QTemporaryDir> m_pAppDir;
    std::shared_ptr<TLauncherFilesystemHelper> m_pHelper;
    std::shared_ptr<TLauncherConfigurationReader> m_pConfiguration;
    std::unique_ptr<TInstallationManager> m_pManager;
    std::shared_ptr<shared::TDownloadPool> m_pPool;
    std::unique_ptr<TLauncherMainWindow> m_pWindow;
    QProcess m_Bus;
    bool m_bNotificationBus = false;
};

QTEST_MAIN(TestLauncherMainWindow)
#include "tst_launchermainwindow.moc"
