// Which launcher packages may go into the launcher's folder: only the launcher's own files, and
// never one without the running launcher.
#include "launcher/configuration/packageconfigurationreader.h"
#include "launcher/selfupdate/launcherpackagecheck.h"
#include "launcher/settings/launchersettings.h"
#include "shared/filesystemhelper/filesystemhelper.h"

#include <QtTest>

using namespace orvik::launcher;

class TestLauncherPackageCheck : public QObject
{
    Q_OBJECT

private slots:
    void onlyTheLaunchersOwnFilesAreAccepted_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("accepted");
        const QStringList launcher = {"launcher"};
        QTest::newRow("launcher, translation, resources")
            << QStringList{"launcher", "launcher.en.qm", "lib/libQt5Core.so.5", "icons/a.png"}
            << true;
        // Would leave the next start with other settings.
        QTest::newRow("settings") << launcher + QStringList{"launchersettings.ini"} << false;
        QTest::newRow("settings, climbing back in")
            << launcher + QStringList{"lib/../launchersettings.ini"} << false;
        QTest::newRow("settings of a subfolder")
            << launcher + QStringList{"doc/launchersettings.ini"} << true;
        // Would make the launcher believe another version is installed.
        QTest::newRow("package marker") << launcher + QStringList{"package.json"} << false;
        QTest::newRow("partial marker") << launcher + QStringList{"partial-package.json"} << false;
        QTest::newRow("assets document") << launcher + QStringList{"assets.json"} << false;
        QTest::newRow("marker signature") << launcher + QStringList{"package.json.sig"} << false;
        QTest::newRow("default marker") << launcher + QStringList{"default"} << false;
        QTest::newRow("forced update") << launcher + QStringList{"FORCE_PATCH"} << false;
        // What a failed update goes back to, and what the update sweeps away.
        QTest::newRow("old version") << launcher + QStringList{"lib/libQt5Core.so.5.old"} << false;
        QTest::newRow("log") << launcher + QStringList{"launcher.log"} << false;
        QTest::newRow("interrupted write")
            << launcher + QStringList{"launcher.en.qm.tmp-a1B2c3"} << false;
        QTest::newRow("the folder itself") << launcher + QStringList{"lib/.."} << false;
        // Nothing to restart, and a folder without a launcher.
        QTest::newRow("no launcher") << QStringList{"launcher.en.qm", "README"} << false;
        QTest::newRow("launcher in a subfolder") << QStringList{"bin/launcher"} << false;
    }
    void onlyTheLaunchersOwnFilesAreAccepted()
    {
        QFETCH(QStringList, files);
        QFETCH(bool, accepted);
        TFileInPackageVector entries;
        for (const QString& name : files) {
            TFileInPackage entry;
            entry.LocalFile = name;
            entry.Executable = name.endsWith(QLatin1String("launcher"));
            entries.push_back(entry);
        }
        const QString refusal = check(entries);
        QVERIFY2(refusal.isEmpty() == accepted, qPrintable(refusal));
    }

    void launcherThatIsNotExecutableIsRefused()
    {
        // Installed without its execute bit, the restart could not start it.
        TFileInPackage entry;
        entry.LocalFile = QStringLiteral("launcher");
        QVERIFY(!check(TFileInPackageVector{entry}).isEmpty());
    }

private:
    static QString check(const TFileInPackageVector& Files)
    {
        TLauncherSettings settings;
        settings.packageFile = QStringLiteral("package.json");
        settings.partialPackageFile = QStringLiteral("partial-package.json");
        settings.assetFile = QStringLiteral("assets.json");
        ::shared::TFileSystemHelper fileSystem;
        const QDir directory(QStringLiteral("/opt/kestrun-launcher"));
        return launcherPackageRefusal(fileSystem, directory, directory.filePath("launcher"),
                                      settings, Files);
    }
};

QTEST_GUILESS_MAIN(TestLauncherPackageCheck)
#include "tst_launcherpackagecheck.moc"
