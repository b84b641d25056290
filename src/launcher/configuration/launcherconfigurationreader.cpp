#include "launcher/configuration/launcherconfigurationreader.h"

#include "launcher/package/package.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace orvik::launcher {

namespace {

// Service addresses are used as written: a relative one stays unusable.
QUrl serviceUrl(const QJsonObject& object, const char* key)
{
    const QString text = object.value(QLatin1String(key)).toString();
    return text.isEmpty() ? QUrl() : QUrl(text, QUrl::TolerantMode);
}

} // namespace

TLauncherConfigurationReader::TLauncherConfigurationReader(const QByteArray& Data,
                                                           const QUrl& BaseUrl)
    : m_BaseUrl(BaseUrl), m_Data(Data)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(Data, &error);
    if (error.error != QJsonParseError::NoError)
        throw TLauncherConfigurationException(error.errorString().toUtf8().toStdString());

    const QJsonObject root = document.object();
    const QJsonValue launcher = root.value(QLatin1String("launcher"));
    if (launcher.isObject())
        m_pLauncherPackage = std::make_shared<TPackage>(TPackage::LauncherPackageIndex,
                                                        launcher.toObject(), m_BaseUrl);

    const QJsonValue packages = root.value(QLatin1String("packages"));
    if (packages.isArray()) {
        const QJsonArray array = packages.toArray();
        for (int i = 0; i < array.size(); ++i)
            m_Packages.push_back(std::make_shared<TPackage>(i, array.at(i).toObject(), m_BaseUrl));
    }

    m_HardwareSurveyUrl = serviceUrl(root, "hardwaresurvey");
    m_HintsUrl = serviceUrl(root, "hints");
    m_FunnelUrl = serviceUrl(root, "funnel");
    m_bPreventDefaultAutostart = root.value(QLatin1String("preventdefaultautostart")).toBool(false);
    m_bShowPackageNames = root.value(QLatin1String("showpackagenames")).toBool(false);
    m_Trust = TDocumentTrustReader(root.value(QLatin1String("trust")).toObject(), m_BaseUrl);
    // Entries that are not text are skipped; the mirror set leaves out what is no web address.
    for (const QJsonValue& mirror : root.value(QLatin1String("mirrors")).toArray())
        if (mirror.isString())
            m_Mirrors.append(QUrl(mirror.toString()));
}

} // namespace orvik::launcher
