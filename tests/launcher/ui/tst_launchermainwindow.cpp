// The main window and its tiles, built from a configuration of several packages. With
// KESTRUN_SCREENSHOT set to a path, the rendering test also saves the window there (see
// scripts/screenshot.sh, which runs it under Xvfb for the README).
#include "launcher/configuration/launcherconfigurationreader.h"
#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/installation/installationmanager.h"
#include "launcher/installation/packageinstallation.h" // declares the package pointer type
#include "launcher/ui/clientpackagelayoutitem.h"
#include "launcher/ui/launchermainwindow.h"
#include "launcher/ui/progresstext.h"
#include "launcher/ui/qcontextpushbutton.h"

#include "testfiles.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace orvik::launcher;

namespace {

QByteArray packageObject(int number)
{
    const QByteArray name = "Realm " + QByteArray::number(number);
    return "{\"name\": \"" + name + "\", \"directoryname\": \"realm" + QByteArray::number(number) +
           "\", \"builds\": [{\"os\": \"linux\", \"architecture\": \"x86_64\", \"url\": "
           "\"p.json\"}]}";
}

} // namespace

class TestLauncherMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        testsupport::useLauncherIdentity();
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
        QTest::newRow("unknown") << 0 << "Red"
                                 << "" << QStringList() << false << "KestrunLogo_QT_disabled.png";
        QTest::newRow("not installed")
            << 1 << "Blue"
            << "Download" << QStringList() << false << "KestrunLogo_QT_disabled.png";
        QTest::newRow("partially installed")
            << 2 << "Orange"
            << "Update" << QStringList() << false << "KestrunLogo_QT_disabled.png";
        QTest::newRow("update available")
            << 3 << "Orange"
            << "Update" << QStringList() << false << "KestrunLogo_QT_disabled.png";
        QTest::newRow("installed")
            << 4 << "Green"
            << "Play" << QStringList{"Verify"} << true << "KestrunLogo_QT.png";
    }
    void buttonFollowsTheStatus()
    {
        QFETCH(int, status);
        QFETCH(QString, colour);
        QFETCH(QString, toolTip);
        QFETCH(QStringList, menu);
        QFETCH(bool, defaultChoice);
        QFETCH(QString, logo);
        makeWindow({ELocalPackageStatus::NotInstalled});
        package(0)->setLocalStatus(ELocalPackageStatus(status)); // the tile follows the package
        TClientPackageLayoutItem* item = tile(0);
        QVERIFY(item->button()->styleSheet().contains("Button_" + colour + "_idle.png"));
        QCOMPARE(item->button()->toolTip(), toolTip);
        QCOMPARE(item->button()->size(), QSize(98, 40));
        QStringList actions;
        for (QAction* action : item->button()->menu().actions())
            actions << action->text();
        QCOMPARE(actions, menu);
        QCOMPARE(item->defaultClientCheckbox()->isVisibleTo(m_pWindow.get()), defaultChoice);
        QVERIFY(item->logoImagePath().endsWith(logo));
        QCOMPARE(item->logoLabel()->size(), QSize(196, 152));
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
        QTest::addColumn<QString>("text");
        QTest::newRow("1024") << 1024.0 << "1024 B/s";
        QTest::newRow("1025") << 1025.0 << "1.0 KB/s";
        QTest::newRow("mebi") << 1048576.0 << "1048.6 KB/s";
        QTest::newRow("mebi and one") << 1048577.0 << "1.0 MB/s";
        QTest::newRow("gibi") << 1073741824.0 << "1073.7 MB/s";
        QTest::newRow("past gibi") << 1073741825.0 << "1.1 GB/s";
        QTest::newRow("no sample") << 0.0 << "0 B/s";
    }
    void progressTexts()
    {
        QFETCH(double, rate);
        QFETCH(QString, text);
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

    void rendersForTheReadme()
    {
        makeWindow({ELocalPackageStatus::Installed, ELocalPackageStatus::UpdateAvailable,
                    ELocalPackageStatus::NotInstalled, ELocalPackageStatus::Installed,
                    ELocalPackageStatus::NotInstalled});
        m_pWindow->setDefault(package(0), true);
        TPackageInstallation installation(package(2), m_pHelper);
        emit m_pManager->installationOrUpdateStarted(&installation);
        tile(2)->onWriteProgress(412000000, 1024000000);
        m_pWindow->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_pWindow.get()));
        const QImage image = m_pWindow->grab().toImage();
        QCOMPARE(image.width(), 800 * image.devicePixelRatio());
        const QString path = qEnvironmentVariable("KESTRUN_SCREENSHOT");
        if (!path.isEmpty())
            QVERIFY(image.save(path));
    }

private:
    void makeWindow(const std::vector<ELocalPackageStatus>& Statuses)
    {
        QByteArrayList packages;
        for (size_t i = 0; i < Statuses.size(); ++i)
            packages << packageObject(int(i) + 1);
        m_pConfiguration = std::make_shared<TLauncherConfigurationReader>(
            "{\"packages\": [" + packages.join(", ") + "]}", QUrl("https://cdn.test/"));
        for (const auto& package : m_pConfiguration->getPackages())
            package->getBuilds()[0]->m_pConfiguration =
                std::make_unique<TPackageConfigurationReader>(
                    QByteArray("{\"version\": \"1.4\", \"files\": []}"), QByteArray(),
                    QUrl("https://cdn.test/"), QUrl("https://cdn.test/"));
        m_pManager = std::make_unique<TInstallationManager>(m_pConfiguration, m_pHelper);
        for (size_t i = 0; i < Statuses.size(); ++i)
            m_pConfiguration->getPackages()[i]->setLocalStatus(Statuses[i]);
        m_pWindow =
            std::make_unique<TLauncherMainWindow>(m_pConfiguration, nullptr, m_pManager.get());
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
    std::unique_ptr<TLauncherMainWindow> m_pWindow;
};

QTEST_MAIN(TestLauncherMainWindow)
#include "tst_launchermainwindow.moc"
