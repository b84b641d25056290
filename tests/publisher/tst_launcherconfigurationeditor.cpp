#include "launcher/configuration/launcherconfigurationreader.h"
#include "launcher/package/package.h"
#include "launcher/package/packagebuild.h"
#include "publisher/configure/launcherconfigurationeditor.h"
#include "publisher/publishererror.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace orvik::launcher;
using namespace orvik::publisher;

namespace {

const QUrl kBase(QStringLiteral("http://cdn.example/launcher/"));

TPackageEdit gamePackage(const QString& name)
{
    TPackageEdit package;
    package.Name = name;
    package.DirectoryName = QStringLiteral("kestrun");
    package.LogoLinkTarget = QStringLiteral("https://kestrun.example/");
    package.InstallAutomatically = true;
    package.Builds = {{"linux", "x86_64", "game-12.json", "game-assets-7.json"},
                      {"windows", "x86_64", "http://other.example/win/game-12.json", ""}};
    return package;
}

} // namespace

class TestLauncherConfigurationEditor : public QObject
{
    Q_OBJECT

private slots:
    // Catches keys the launcher does not know, URLs that do not resolve against the document's
    // folder, and values lost on the way (a switch left out reads as false).
    void launcherReadsWhatWasConfigured()
    {
        TConfigurationEdit edit;
        edit.Package = gamePackage("Kestrun");
        edit.HintsUrl = QStringLiteral("https://hints.example/hints.json");
        edit.FunnelUrl = QStringLiteral("https://funnel.example/event");
        edit.HardwareSurveyUrl = QStringLiteral("https://survey.example/post");
        edit.PreventDefaultAutostart = true;
        edit.ShowPackageNames = true;
        QByteArray document = editLauncherConfiguration({}, edit);

        TConfigurationEdit launcher;
        launcher.Package = TPackageEdit{};
        launcher.Package->bLauncher = true;
        launcher.Package->Name = "Launcher";
        launcher.Package->Builds = {{"Linux", "X86_64", "launcher-3.json", ""}};
        document = editLauncherConfiguration(document, launcher);

        const TLauncherConfigurationReader reader(document, kBase);
        QCOMPARE(reader.getHintsUrl(), QUrl("https://hints.example/hints.json"));
        QCOMPARE(reader.getFunnelUrl(), QUrl("https://funnel.example/event"));
        QCOMPARE(reader.getHardwareSurveyUrl(), QUrl("https://survey.example/post"));
        QVERIFY(reader.getPreventDefaultAutostart());
        QVERIFY(reader.getShowPackageNames());
        QCOMPARE(int(reader.getPackages().size()), 1);

        const TPackage& game = *reader.getPackages().front();
        QCOMPARE(game.getName(), QStringLiteral("Kestrun"));
        QCOMPARE(game.getDirectoryName(), QStringLiteral("kestrun"));
        QCOMPARE(game.getLogoLinkTarget(), QUrl("https://kestrun.example/"));
        QVERIFY(game.getInstallAutomatically());
        QCOMPARE(int(game.getBuilds().size()), 2);
        const TPackageBuild& linux = *game.getBuilds().at(0);
        QCOMPARE(linux.m_OperatingSystem, EBuildOperatingSystem::Linux);
        QCOMPARE(linux.m_Architecture, EBuildArchitecture::X86_64);
        QCOMPARE(linux.m_Url, QUrl("http://cdn.example/launcher/game-12.json"));
        QCOMPARE(linux.m_AssetsUrl, QUrl("http://cdn.example/launcher/game-assets-7.json"));
        const TPackageBuild& windows = *game.getBuilds().at(1);
        QCOMPARE(windows.m_OperatingSystem, EBuildOperatingSystem::Windows);
        QCOMPARE(windows.m_Url, QUrl("http://other.example/win/game-12.json"));
        QVERIFY(windows.m_AssetsUrl.isEmpty());

        QVERIFY(reader.getLauncherPackage());
        QCOMPARE(reader.getLauncherPackage()->getName(), QStringLiteral("Launcher"));
        QCOMPARE(reader.getLauncherPackage()->getBuilds().front()->m_Url,
                 QUrl("http://cdn.example/launcher/launcher-3.json"));
    }

    // Catches an update that duplicates the build of a machine (the launcher takes the first, the
    // old one), reorders packages, or drops what people added by hand.
    void updateReplacesOnlyWhatItNames()
    {
        const QByteArray existing =
            "{\"motd\": \"hello\", \"showpackagenames\": true, \"packages\": ["
            "{\"name\": \"Classic\", \"builds\": []},"
            "{\"name\": \"Kestrun\", \"directoryname\": \"old\", \"builds\": ["
            "{\"os\": \"Linux\", \"architecture\": \"X86_64\", \"url\": \"game-11.json\"},"
            "{\"os\": \"macos\", \"architecture\": \"x86_64\", \"url\": \"mac-11.json\"}]}]}";
        TConfigurationEdit edit;
        edit.Package = TPackageEdit{};
        edit.Package->Name = "Kestrun";
        edit.Package->Builds = {{"linux", "x86_64", "game-12.json", ""}};
        const QByteArray updated = editLauncherConfiguration(existing, edit);

        const QJsonObject document = QJsonDocument::fromJson(updated).object();
        QCOMPARE(document.value("motd").toString(), QStringLiteral("hello"));
        const TLauncherConfigurationReader reader(updated, kBase);
        QVERIFY(reader.getShowPackageNames());
        QCOMPARE(int(reader.getPackages().size()), 2);
        QCOMPARE(reader.getPackages().at(0)->getName(), QStringLiteral("Classic"));
        const TPackage& game = *reader.getPackages().at(1);
        QCOMPARE(game.getDirectoryName(), QStringLiteral("old"));
        QCOMPARE(int(game.getBuilds().size()), 2);
        QCOMPARE(game.getBuilds().at(0)->m_Url, QUrl("http://cdn.example/launcher/game-12.json"));
        QCOMPARE(game.getBuilds().at(1)->m_OperatingSystem, EBuildOperatingSystem::MacOS);
        // Applying the same edit again changes nothing.
        QCOMPARE(editLauncherConfiguration(updated, edit), updated);
    }

    // The launcher must read back the mirrors as written; a relative or non-web mirror would
    // send every retry nowhere, and an empty value is how a studio drops the list again.
    void mirrorsAreWrittenCheckedAndRemoved()
    {
        TConfigurationEdit edit;
        edit.Mirrors = QStringList{"https://b.example/kestrun/launcher/", "http://c.example/l/"};
        const QByteArray written = editLauncherConfiguration("{\"packages\": []}", edit);
        const TLauncherConfigurationReader reader(written, kBase);
        QCOMPARE(reader.getMirrors(), (QList<QUrl>{QUrl("https://b.example/kestrun/launcher/"),
                                                   QUrl("http://c.example/l/")}));
        for (const char* wrong : {"mirror/launcher/", "ftp://b.example/l/", "https:///l/"}) {
            edit.Mirrors = QStringList{QString(wrong)};
            QVERIFY_EXCEPTION_THROWN(editLauncherConfiguration(written, edit), TPublisherError);
        }
        edit.Mirrors = QStringList();
        const QByteArray removed = editLauncherConfiguration(written, edit);
        QVERIFY(!QJsonDocument::fromJson(removed).object().contains("mirrors"));
    }

    void refusesWhatTheLauncherCouldNotUse_data()
    {
        QTest::addColumn<QByteArray>("existing");
        QTest::addColumn<QString>("os");
        QTest::addColumn<QString>("architecture");
        QTest::addColumn<QString>("name");
        QTest::newRow("unknown system") << QByteArray() << "plan9"
                                        << "x86_64"
                                        << "Kestrun";
        QTest::newRow("unknown architecture") << QByteArray() << "linux"
                                              << "arm64"
                                              << "Kestrun";
        QTest::newRow("game package without a name") << QByteArray() << "linux"
                                                     << "x86_64"
                                                     << "";
        QTest::newRow("existing document not JSON") << QByteArray("<html>") << "linux"
                                                    << "x86_64"
                                                    << "Kestrun";
        QTest::newRow("existing document an array") << QByteArray("[]") << "linux"
                                                    << "x86_64"
                                                    << "Kestrun";
    }
    // Catches documents written with builds no machine matches, packages that cannot be found
    // again, and a hand-made document silently replaced by an empty one.
    void refusesWhatTheLauncherCouldNotUse()
    {
        QFETCH(QByteArray, existing);
        QFETCH(QString, os);
        QFETCH(QString, architecture);
        QFETCH(QString, name);
        TConfigurationEdit edit;
        edit.Package = TPackageEdit{};
        edit.Package->Name = name;
        edit.Package->Builds = {{os, architecture, "game.json", ""}};
        QVERIFY_EXCEPTION_THROWN(editLauncherConfiguration(existing, edit), TPublisherError);
    }
};

QTEST_GUILESS_MAIN(TestLauncherConfigurationEditor)
#include "tst_launcherconfigurationeditor.moc"
