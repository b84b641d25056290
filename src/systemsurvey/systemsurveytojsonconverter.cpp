#include "systemsurvey/systemsurveytojsonconverter.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkInterface>

namespace systemsurvey {

namespace {

const QString kClientIdentifierSalt = QStringLiteral("3f6c2a1e-8d47-4b0e-9a52-c7e1f0d4b829");

// Empty until computed; the survey runs on the GUI thread only.
QString g_ClientIdentifier;

QJsonObject monitorObject(const TMonitor& Monitor)
{
    QJsonObject object;
    object.insert(QStringLiteral("width"), qint64(Monitor.width));
    object.insert(QStringLiteral("height"), qint64(Monitor.height));
    object.insert(QStringLiteral("primary"), Monitor.primary);
    object.insert(QStringLiteral("refreshRate"), qint64(Monitor.refreshRate));
    return object;
}

QJsonObject processorObject(const TProcessor& Processor)
{
    QJsonObject object;
    object.insert(QStringLiteral("manufacturer"), Processor.manufacturer);
    object.insert(QStringLiteral("brandName"), Processor.brandName);
    object.insert(QStringLiteral("64Bit"), Processor.is64Bit);
    object.insert(QStringLiteral("sse"), Processor.sse);
    object.insert(QStringLiteral("sse2"), Processor.sse2);
    object.insert(QStringLiteral("NUMANumber"), qint64(Processor.numaNodeCount));
    object.insert(QStringLiteral("physicalNumber"), qint64(Processor.physicalProcessorCount));
    object.insert(QStringLiteral("coreNumber"), qint64(Processor.coresPerProcessor));
    object.insert(QStringLiteral("logicalCoreNumber"), qint64(Processor.logicalProcessorCount));
    object.insert(QStringLiteral("clockSpeed"), Processor.clockSpeed);
    return object;
}

QJsonObject graphicsObject(const TGraphicsAdapter& Adapter)
{
    // Members without a value are left out, and the device id only travels together with a
    // driver version: the form the survey service expects.
    QJsonObject object;
    object.insert(QStringLiteral("deviceString"), Adapter.deviceString);
    object.insert(QStringLiteral("videoMemorySize"), qint64(Adapter.videoMemorySize));
    if (Adapter.vendorId != 0)
        object.insert(QStringLiteral("vendorId"), qint64(Adapter.vendorId));
    if (!Adapter.driverVersion.isEmpty()) {
        object.insert(QStringLiteral("deviceId"), qint64(Adapter.deviceId));
        object.insert(QStringLiteral("driverVersion"), Adapter.driverVersion);
    }
    return object;
}

} // namespace

TSystemSurveyToJsonConverter::TSystemSurveyToJsonConverter()
    : m_HardwareAddresses(hardwareAddressesOfThisMachine)
{}

TSystemSurveyToJsonConverter::TSystemSurveyToJsonConverter(THardwareAddresses HardwareAddresses)
    : m_HardwareAddresses(std::move(HardwareAddresses))
{}

TSystemSurveyToJsonConverter::~TSystemSurveyToJsonConverter() = default;

QStringList TSystemSurveyToJsonConverter::hardwareAddressesOfThisMachine()
{
    QStringList addresses;
    for (const QNetworkInterface& networkInterface : QNetworkInterface::allInterfaces())
        addresses.append(networkInterface.hardwareAddress());
    return addresses;
}

QString TSystemSurveyToJsonConverter::clientIdentifier() const
{
    if (g_ClientIdentifier.isEmpty()) {
        // Salted, so that the identifier cannot be matched with the addresses seen elsewhere.
        QCryptographicHash hash(QCryptographicHash::Sha1);
        hash.addData(kClientIdentifierSalt.toLocal8Bit());
        for (const QString& address : m_HardwareAddresses())
            hash.addData(address.toLocal8Bit());
        g_ClientIdentifier = QString::fromLatin1(hash.result().toHex());
    }
    return g_ClientIdentifier;
}

QJsonDocument TSystemSurveyToJsonConverter::convert(const TSystemSurvey& Survey) const
{
    QJsonArray monitors;
    for (const TMonitor& monitor : Survey.monitors)
        monitors.append(monitorObject(monitor));
    QJsonArray graphics;
    for (const TGraphicsAdapter& adapter : Survey.graphics)
        graphics.append(graphicsObject(adapter));
    QJsonObject system;
    system.insert(QStringLiteral("baseSystem"), Survey.baseSystem);
    system.insert(QStringLiteral("name"), Survey.systemName);
    system.insert(QStringLiteral("release"), Survey.release);

    // Inserted in the service's order; a JSON object keeps its members sorted by name anyway,
    // and the service reads them by name.
    QJsonObject root;
    root.insert(QStringLiteral("dataType"), 0);
    root.insert(QStringLiteral("clientID"), clientIdentifier());
    root.insert(QStringLiteral("monitors"), monitors);
    root.insert(QStringLiteral("operatingSystem"), system);
    root.insert(QStringLiteral("mainMemorySize"), qint64(Survey.mainMemorySize));
    root.insert(QStringLiteral("cpu"), processorObject(Survey.processor));
    root.insert(QStringLiteral("gpu"), graphics);
    return QJsonDocument(root);
}

} // namespace systemsurvey
