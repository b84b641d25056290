#include "systemsurvey/systemsurveytojsonconverter.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QtTest>

using namespace systemsurvey;

namespace {

// SHA-1 of the salt followed by the two addresses of initTestCase, computed outside the program.
const QString kIdentifierOfFixedAddresses =
    QStringLiteral("6f2a9fdaf67742f6913fb715494c64ac133b1cab");

QJsonObject converted(const std::vector<TGraphicsAdapter>& Graphics)
{
    TSystemSurvey survey;
    survey.mainMemorySize = 34359738368ULL; // beyond 32 bits
    survey.processor.coresPerProcessor = 8;
    survey.processor.clockSpeed = 3100.25;
    survey.graphics = Graphics;
    return TSystemSurveyToJsonConverter().convert(survey).object();
}

} // namespace

class TestSystemSurveyToJsonConverter : public QObject
{
    Q_OBJECT

private slots:
    // The first identifier of this process, before any other converter could make one.
    void initTestCase()
    {
        const TSystemSurveyToJsonConverter converter([] {
            return QStringList{"52:54:00:12:34:56", "00:00:00:00:00:00"};
        });
        QCOMPARE(converter.clientIdentifier(), kIdentifierOfFixedAddresses);
    }

    void clientIdentifierStaysWhenInterfacesChange()
    {
        // Other addresses now: the identifier of this run does not follow them.
        const TSystemSurveyToJsonConverter converter(
            [] { return QStringList{"02:00:00:00:00:01"}; });
        QCOMPARE(converter.convert(TSystemSurvey()).object().value("clientID").toString(),
                 kIdentifierOfFixedAddresses);
        QCOMPARE(converter.convert(TSystemSurvey()).object().value("clientID").toString(),
                 kIdentifierOfFixedAddresses);
    }

    void documentMembers()
    {
        const QJsonObject root = converted({});
        QCOMPARE(root.keys(), (QStringList{"clientID", "cpu", "dataType", "gpu", "mainMemorySize",
                                           "monitors", "operatingSystem"}));
        QCOMPARE(root.value("mainMemorySize").toVariant().toLongLong(), 34359738368LL);
        const QJsonObject cpu = root.value("cpu").toObject();
        QCOMPARE(cpu.keys(), (QStringList{"64Bit", "NUMANumber", "brandName", "clockSpeed",
                                          "coreNumber", "logicalCoreNumber", "manufacturer",
                                          "physicalNumber", "sse", "sse2"}));
        QCOMPARE(cpu.value("coreNumber"), QJsonValue(8));
        QCOMPARE(cpu.value("clockSpeed"), QJsonValue(3100.25));
    }

    void graphicsMembersOnlyWithValues_data()
    {
        QTest::addColumn<quint32>("vendorId");
        QTest::addColumn<QString>("driverVersion");
        QTest::addColumn<QStringList>("keys");
        QTest::newRow("nothing known")
            << 0u << "" << QStringList{"deviceString", "videoMemorySize"};
        QTest::newRow("vendor") << 0x10deu << ""
                                << QStringList{"deviceString", "vendorId", "videoMemorySize"};
        // The device id travels with the driver version only.
        QTest::newRow("driver") << 0u << "535.54"
                                << QStringList{"deviceId", "deviceString", "driverVersion",
                                               "videoMemorySize"};
    }
    void graphicsMembersOnlyWithValues()
    {
        QFETCH(quint32, vendorId);
        QFETCH(QString, driverVersion);
        const QJsonObject gpu =
            converted({{"Radeon", 8589934592ULL, vendorId, 0x73bf, driverVersion}})
                .value("gpu")
                .toArray()
                .first()
                .toObject();
        QTEST(gpu.keys(), "keys");
        QCOMPARE(gpu.value("videoMemorySize").toVariant().toLongLong(), 8589934592LL);
        if (gpu.contains("deviceId"))
            QCOMPARE(gpu.value("deviceId"), QJsonValue(0x73bf));
    }
};

QTEST_GUILESS_MAIN(TestSystemSurveyToJsonConverter)
#include "tst_systemsurveytojsonconverter.moc"
