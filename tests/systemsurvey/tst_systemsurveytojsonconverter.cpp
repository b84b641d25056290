#include "systemsurvey/systemsurveytojsonconverter.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QtTest>

using namespace systemsurvey;

namespace {

// SHA-1 of the salt followed by these two addresses, computed outside the program.
const QString kIdentifierOfFixedAddresses =
    QStringLiteral("6f2a9fdaf67742f6913fb715494c64ac133b1cab");

TSystemSurvey sampleSurvey()
{
    TSystemSurvey survey;
    survey.monitors = {{1920, 1080, false, 60}, {2560, 1440, true, 144}};
    survey.baseSystem = "Linux";
    survey.systemName = "Debian";
    survey.release = "12";
    survey.mainMemorySize = 34359738368ULL; // 32 GiB: beyond 32 bits
    survey.processor = {"Intel", "Intel(R) Xeon(R)", true, true, false, 0, 2, 8, 32, 3100.25};
    survey.graphics = {{"not implemented", 0, 0, 0, QString()}};
    return survey;
}

} // namespace

class TestSystemSurveyToJsonConverter : public QObject
{
    Q_OBJECT

private slots:
    // The first identifier of this process, before any other test could make one.
    void initTestCase()
    {
        const TSystemSurveyToJsonConverter converter([] {
            return QStringList{"52:54:00:12:34:56", "00:00:00:00:00:00"};
        });
        QCOMPARE(converter.clientIdentifier(), kIdentifierOfFixedAddresses);
    }

    void clientIdentifierStaysWhenInterfacesChange()
    {
        // Another machine's addresses now: the identifier of this run does not follow them.
        const TSystemSurveyToJsonConverter converter(
            [] { return QStringList{"02:00:00:00:00:01"}; });
        const QJsonObject first = converter.convert(sampleSurvey()).object();
        const QJsonObject second = TSystemSurveyToJsonConverter().convert(sampleSurvey()).object();
        QCOMPARE(first.value("clientID").toString(), kIdentifierOfFixedAddresses);
        QCOMPARE(second.value("clientID").toString(), kIdentifierOfFixedAddresses);
    }

    void documentMembers()
    {
        const QJsonObject root = TSystemSurveyToJsonConverter().convert(sampleSurvey()).object();
        QCOMPARE(root.keys(), (QStringList{"clientID", "cpu", "dataType", "gpu", "mainMemorySize",
                                           "monitors", "operatingSystem"}));
        QCOMPARE(root.value("dataType"), QJsonValue(0));
        QCOMPARE(root.value("mainMemorySize").toVariant().toLongLong(), 34359738368LL);

        const QJsonArray monitors = root.value("monitors").toArray();
        QCOMPARE(monitors.size(), 2);
        QCOMPARE(monitors[0].toObject(),
                 (QJsonObject{
                     {"width", 1920}, {"height", 1080}, {"primary", false}, {"refreshRate", 60}}));
        QCOMPARE(monitors[1].toObject().value("primary"), QJsonValue(true));

        QCOMPARE(root.value("operatingSystem").toObject(),
                 (QJsonObject{{"baseSystem", "Linux"}, {"name", "Debian"}, {"release", "12"}}));
        QCOMPARE(root.value("cpu").toObject(), (QJsonObject{{"manufacturer", "Intel"},
                                                            {"brandName", "Intel(R) Xeon(R)"},
                                                            {"64Bit", true},
                                                            {"sse", true},
                                                            {"sse2", false},
                                                            {"NUMANumber", 0},
                                                            {"physicalNumber", 2},
                                                            {"coreNumber", 8},
                                                            {"logicalCoreNumber", 32},
                                                            {"clockSpeed", 3100.25}}));
        QCOMPARE(
            root.value("gpu").toArray(),
            (QJsonArray{QJsonObject{{"deviceString", "not implemented"}, {"videoMemorySize", 0}}}));
    }

    void graphicsMembersOnlyWithValues_data()
    {
        QTest::addColumn<quint32>("vendorId");
        QTest::addColumn<quint32>("deviceId");
        QTest::addColumn<QString>("driverVersion");
        QTest::addColumn<QStringList>("keys");

        QTest::newRow("nothing known")
            << 0u << 7u << QString() << QStringList{"deviceString", "videoMemorySize"};
        QTest::newRow("vendor only") << 0x10deu << 0u << QString()
                                     << QStringList{"deviceString", "vendorId", "videoMemorySize"};
        QTest::newRow("driver brings the device id")
            << 0u << 0u << "535.54"
            << QStringList{"deviceId", "deviceString", "driverVersion", "videoMemorySize"};
        QTest::newRow("everything") << 0x1002u << 0x73bfu << "23.1"
                                    << QStringList{"deviceId", "deviceString", "driverVersion",
                                                   "vendorId", "videoMemorySize"};
    }
    void graphicsMembersOnlyWithValues()
    {
        QFETCH(quint32, vendorId);
        QFETCH(quint32, deviceId);
        QFETCH(QString, driverVersion);
        TSystemSurvey survey = sampleSurvey();
        survey.graphics = {{"Radeon", 8589934592ULL, vendorId, deviceId, driverVersion}};
        const QJsonObject gpu = TSystemSurveyToJsonConverter()
                                    .convert(survey)
                                    .object()
                                    .value("gpu")
                                    .toArray()
                                    .first()
                                    .toObject();
        QTEST(gpu.keys(), "keys");
        QCOMPARE(gpu.value("videoMemorySize").toVariant().toLongLong(), 8589934592LL);
        if (gpu.contains("vendorId"))
            QCOMPARE(gpu.value("vendorId").toInt(), int(vendorId));
        if (gpu.contains("deviceId"))
            QCOMPARE(gpu.value("deviceId").toInt(), int(deviceId));
        if (gpu.contains("driverVersion"))
            QCOMPARE(gpu.value("driverVersion").toString(), driverVersion);
    }
};

QTEST_GUILESS_MAIN(TestSystemSurveyToJsonConverter)
#include "tst_systemsurveytojsonconverter.moc"
