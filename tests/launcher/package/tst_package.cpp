#include "launcher/configuration/packageconfigurationreader.h"
#include "launcher/package/documenturl.h"
#include "launcher/package/package.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QtTest>

using namespace orvik::launcher;

namespace {

QJsonObject object(const QByteArray& json)
{
    return QJsonDocument::fromJson(json).object();
}

} // namespace

class TestPackage : public QObject
{
    Q_OBJECT

private slots:
    void documentUrls_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("absolute stays") << "https://a.example/dir/"
                                        << "https://b.example/x.json"
                                        << "https://b.example/x.json";
        QTest::newRow("relative appended") << "https://a.example/dir/"
                                           << "sub/x.json"
                                           << "https://a.example/dir/sub/x.json";
        QTest::newRow("one slash added") << "https://a.example/dir"
                                         << "x.json"
                                         << "https://a.example/dir/x.json";
        QTest::newRow("no slash doubled") << "https://a.example/dir/"
                                          << "/x.json"
                                          << "https://a.example/dir//x.json";
        QTest::newRow("leading slash joins bare base") << "https://a.example/dir"
                                                       << "/x.json"
                                                       << "https://a.example/dir/x.json";
        QTest::newRow("query dropped, port kept") << "http://127.0.0.1:8080/c/?t=1"
                                                  << "x.json?v=2"
                                                  << "http://127.0.0.1:8080/c/x.json";
        QTest::newRow("local directory") << "file:///home/p/packages/live/"
                                         << "package.json"
                                         << "file:///home/p/packages/live/package.json";
        QTest::newRow("empty text") << "https://a.example/dir/"
                                    << ""
                                    << "";
    }
    void documentUrls()
    {
        QFETCH(QString, base);
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(resolveDocumentUrl(text, QUrl(base)).toString(), expected);
    }

    void readsPackageObject()
    {
        const TPackage package(
            3,
            object(
                "{\"name\": \"Kestrun Online\", \"directoryname\": \"live\","
                "\"logolinktarget\": \"https://kestrun.example/\", \"installautomatically\": true,"
                "\"builds\": [{\"os\": \"WINDOWS\", \"architecture\": \"I386\", \"url\": "
                "\"w.json\"},"
                "{\"os\": \"Linux\", \"architecture\": \"X86_64\", \"url\": \"l.json\", "
                "\"assetsurl\": \"\"},"
                "{\"os\": \"linux\", \"architecture\": \"x86_64\", \"url\": \"second.json\","
                "\"assetsurl\": \"a.json\"}]}"),
            QUrl("https://cdn.example/"));
        QCOMPARE(package.getIndex(), 3);
        QCOMPARE(package.getName(), QString("Kestrun Online"));
        QCOMPARE(package.getDirectoryName(), QString("live"));
        QCOMPARE(package.getLogoLinkTarget(), QUrl("https://kestrun.example/"));
        QCOMPARE(package.getInstallAutomatically(), true);
        QCOMPARE(package.getBuilds().size(), size_t(3));
        QCOMPARE(package.getBuilds()[0]->m_OperatingSystem, EBuildOperatingSystem::Windows);
        QCOMPARE(package.getBuilds()[0]->m_Architecture, EBuildArchitecture::I386);
        QCOMPARE(package.getLocalStatus(), ELocalPackageStatus::Unknown);

        // Mixed case is recognised, and the first matching build in document order wins.
        const TPackageBuild* build = package.getBuildForThisMachine();
        QVERIFY(build);
        QCOMPARE(build->m_Url, QUrl("https://cdn.example/l.json"));
        QVERIFY(build->m_AssetsUrl.isEmpty()); // present but empty: no asset document
        QVERIFY(!package.getConfiguration());
    }

    void packageWithoutUsableBuilds_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("no builds") << QByteArray("{\"name\": \"x\"}");
        QTest::newRow("builds not an array") << QByteArray("{\"builds\": {\"os\": \"linux\"}}");
        QTest::newRow("other machines only")
            << QByteArray("{\"builds\": [{\"os\": \"macos\", \"architecture\": \"x86_64\"},"
                          "{\"os\": \"linux\", \"architecture\": \"i386\"},"
                          "{\"os\": \"linux\"}]}");
    }
    void packageWithoutUsableBuilds()
    {
        QFETCH(QByteArray, json);
        const TPackage package(0, object(json), QUrl("https://cdn.example/"));
        QVERIFY(!package.getBuildForThisMachine());
        QVERIFY(!package.getConfiguration());
        QVERIFY(package.getLogoLinkTarget().isEmpty());
    }

    void configurationOfMatchingBuild()
    {
        TPackage package(
            0, object("{\"builds\": [{\"os\": \"linux\", \"architecture\": \"x86_64\"}]}"),
            QUrl("https://cdn.example/"));
        package.getBuilds()[0]->m_pConfiguration = std::make_unique<TPackageConfigurationReader>(
            QByteArray("{\"version\": \"12\", \"files\": []}"), QByteArray(), QUrl(), QUrl());
        QVERIFY(package.getConfiguration());
        QCOMPARE(package.getConfiguration()->getVersion(), QString("12"));
    }

    void statusChangeSignalledOnlyOnChange()
    {
        TPackage package(0, {}, QUrl());
        QSignalSpy changed(&package, &TPackage::localPackageStatusChanged);
        package.setLocalStatus(ELocalPackageStatus::NotInstalled);
        package.setLocalStatus(ELocalPackageStatus::NotInstalled);
        package.setLocalStatus(ELocalPackageStatus::Installed);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(int(package.getLocalStatus()), 4);
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
