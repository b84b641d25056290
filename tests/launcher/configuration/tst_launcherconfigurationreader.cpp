#include "launcher/configuration/launcherconfigurationreader.h"
#include "launcher/package/package.h"

#include <QtTest>

using namespace orvik::launcher;

namespace {
const QUrl kBase("https://cdn.example/launcher/");
}

class TestLauncherConfigurationReader : public QObject
{
    Q_OBJECT

private slots:
    void defaultsForDocumentsWithoutContent_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::newRow("empty object") << QByteArray("{}");
        QTest::newRow("top-level array") << QByteArray("[{\"packages\": [{}]}]");
        QTest::newRow("wrong types") << QByteArray(
            "{\"launcher\": [], \"packages\": {\"name\": \"x\"}, \"hints\": 5, \"funnel\": true,"
            "\"hardwaresurvey\": {}, \"preventdefaultautostart\": \"true\","
            "\"showpackagenames\": \"true\"}");
    }
    void defaultsForDocumentsWithoutContent()
    {
        QFETCH(QByteArray, document);
        const TLauncherConfigurationReader reader(document, kBase);
        QVERIFY(!reader.getLauncherPackage());
        QVERIFY(reader.getPackages().empty());
        QVERIFY(reader.getHintsUrl().isEmpty());
        QVERIFY(reader.getFunnelUrl().isEmpty());
        QVERIFY(reader.getHardwareSurveyUrl().isEmpty());
        QCOMPARE(reader.getPreventDefaultAutostart(), false);
        QCOMPARE(reader.getShowPackageNames(), false);
        QCOMPARE(reader.getData(), document); // kept byte for byte for the local copy
        QCOMPARE(reader.getBaseUrl(), kBase);
    }

    void syntaxErrorThrowsParserMessage()
    {
        try {
            TLauncherConfigurationReader("<html>503 Service Unavailable</html>", kBase);
            QFAIL("no exception");
        } catch (const TLauncherConfigurationException& error) {
            QCOMPARE(QString(error.what()), QString("illegal value"));
        }
    }

    void fullDocument()
    {
        const QByteArray document = "{"
                                    "\"launcher\": {\"name\": \"Launcher\", \"builds\": [{\"os\": "
                                    "\"linux\", \"architecture\": \"x86_64\","
                                    "\"url\": \"launcher/linux/package.json\"}]},"
                                    "\"packages\": ["
                                    "{\"name\": \"Kestrun Online\", \"directoryname\": \"live\", "
                                    "\"installautomatically\": true,"
                                    "\"logolinktarget\": \"https://kestrun.example/news\"},"
                                    "\"not an object\","
                                    "{\"name\": \"Kestrun Online Test\"}"
                                    "],"
                                    "\"hints\": \"https://hints.example/hints.json\","
                                    "\"funnel\": \"https://funnel.example/event\","
                                    "\"hardwaresurvey\": \"relative/survey\","
                                    "\"preventdefaultautostart\": true,"
                                    "\"showpackagenames\": true"
                                    "}";
        const TLauncherConfigurationReader reader(document, kBase);

        QVERIFY(reader.getLauncherPackage());
        QCOMPARE(reader.getLauncherPackage()->getIndex(), 2147483647);
        QCOMPARE(reader.getLauncherPackage()->getBuilds().at(0)->m_Url,
                 QUrl("https://cdn.example/launcher/launcher/linux/package.json"));

        QCOMPARE(reader.getPackages().size(), size_t(3));
        for (int i = 0; i < 3; ++i)
            QCOMPARE(reader.getPackages()[size_t(i)]->getIndex(), i);
        QCOMPARE(reader.getPackages()[0]->getName(), QString("Kestrun Online"));
        QCOMPARE(reader.getPackages()[0]->getInstallAutomatically(), true);
        QCOMPARE(reader.getPackages()[1]->getName(), QString()); // non-object: empty package
        QCOMPARE(reader.getPackages()[2]->getName(), QString("Kestrun Online Test"));

        QCOMPARE(reader.getHintsUrl(), QUrl("https://hints.example/hints.json"));
        QCOMPARE(reader.getFunnelUrl(), QUrl("https://funnel.example/event"));
        // Service addresses are not resolved against the document's directory.
        QCOMPARE(reader.getHardwareSurveyUrl(), QUrl("relative/survey"));
        QVERIFY(reader.getHardwareSurveyUrl().isRelative());
        QCOMPARE(reader.getPreventDefaultAutostart(), true);
        QCOMPARE(reader.getShowPackageNames(), true);
    }

    void trustNamesItsPlace_data()
    {
        QTest::addColumn<QByteArray>("members"); // of the trust object, besides the usual ones
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("channel");
        QTest::addColumn<QString>("invalid"); // the reason; empty: usable
        QTest::newRow("both") << QByteArray(", \"address\": \"https://cdn.example/launcher/"
                                            "qormetadata.json\", \"channel\": \"live\"")
                              << "https://cdn.example/launcher/qormetadata.json"
                              << "live"
                              << "";
        QTest::newRow("neither") << QByteArray() << ""
                                 << ""
                                 << "";
        // Read as no place, either would let the configuration be taken anywhere.
        QTest::newRow("empty channel") << QByteArray(", \"channel\": \"\"") << ""
                                       << ""
                                       << "its channel is not a name";
        QTest::newRow("channel not text") << QByteArray(", \"channel\": 7") << ""
                                          << ""
                                          << "its channel is not a name";
        QTest::newRow("relative address")
            << QByteArray(", \"address\": \"launcher/qormetadata.json\"") << ""
            << ""
            << "its address is not an absolute address";
    }
    void trustNamesItsPlace()
    {
        QFETCH(QByteArray, members);
        QFETCH(QString, address);
        QFETCH(QString, channel);
        QFETCH(QString, invalid);
        const TLauncherConfigurationReader reader(
            "{\"trust\": {\"serial\": 3, \"expires\": \"2027-01-06T12:00:00Z\", "
            "\"documents\": {}" +
                members + "}}",
            kBase);
        const TDocumentTrustReader& trust = reader.getTrust();
        QCOMPARE(trust.getInvalidReason(), invalid);
        if (!invalid.isEmpty())
            return;
        QCOMPARE(trust.getAddress(), QUrl(address));
        QCOMPARE(trust.getChannel(), channel);
        QCOMPARE(trust.namesPlace(), !members.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestLauncherConfigurationReader)
#include "tst_launcherconfigurationreader.moc"
