#include "publisher/configure/launcherconfigurationeditor.h"

#include "publisher/publishererror.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace orvik::publisher {

namespace {

const QStringList kOperatingSystems = {QStringLiteral("windows"), QStringLiteral("macos"),
                                       QStringLiteral("linux")};
const QStringList kArchitectures = {QStringLiteral("i386"), QStringLiteral("x86_64")};

QString checkedUrl(const QString& text)
{
    if (!text.isEmpty() && !QUrl(text, QUrl::TolerantMode).isValid())
        throw TPublisherError(QStringLiteral("'%1' is not a URL").arg(text));
    return text;
}

QJsonObject buildObject(const TBuildEntry& build)
{
    const QString os = build.OperatingSystem.toLower();
    const QString architecture = build.Architecture.toLower();
    if (!kOperatingSystems.contains(os))
        throw TPublisherError(
            QStringLiteral("unknown operating system '%1' (windows, macos, linux)")
                .arg(build.OperatingSystem));
    if (!kArchitectures.contains(architecture))
        throw TPublisherError(
            QStringLiteral("unknown architecture '%1' (i386, x86_64)").arg(build.Architecture));
    if (build.Url.isEmpty())
        throw TPublisherError(QStringLiteral("the %1/%2 build has no URL").arg(os, architecture));
    QJsonObject object{{QStringLiteral("os"), os},
                       {QStringLiteral("architecture"), architecture},
                       {QStringLiteral("url"), checkedUrl(build.Url)}};
    if (!build.AssetsUrl.isEmpty())
        object.insert(QStringLiteral("assetsurl"), checkedUrl(build.AssetsUrl));
    return object;
}

bool sameMachine(const QJsonObject& build, const QJsonObject& other)
{
    const auto text = [](const QJsonObject& object, const char* key) {
        return object.value(QLatin1String(key)).toString().toLower();
    };
    return text(build, "os") == text(other, "os") &&
           text(build, "architecture") == text(other, "architecture");
}

QJsonObject editPackage(QJsonObject package, const TPackageEdit& edit)
{
    if (!edit.Name.isEmpty())
        package.insert(QStringLiteral("name"), edit.Name);
    if (edit.DirectoryName)
        package.insert(QStringLiteral("directoryname"), *edit.DirectoryName);
    if (edit.LogoLinkTarget)
        package.insert(QStringLiteral("logolinktarget"), checkedUrl(*edit.LogoLinkTarget));
    if (edit.InstallAutomatically)
        package.insert(QStringLiteral("installautomatically"), *edit.InstallAutomatically);
    QJsonArray builds = package.value(QStringLiteral("builds")).toArray();
    for (const TBuildEntry& entry : edit.Builds) {
        const QJsonObject build = buildObject(entry);
        int found = 0;
        while (found < builds.size() && !sameMachine(builds.at(found).toObject(), build))
            ++found;
        if (found < builds.size())
            builds.replace(found, build);
        else
            builds.append(build);
    }
    package.insert(QStringLiteral("builds"), builds);
    return package;
}

void applyPackageEdit(QJsonObject& document, const TPackageEdit& edit)
{
    if (edit.bLauncher) {
        document.insert(QStringLiteral("launcher"),
                        editPackage(document.value(QStringLiteral("launcher")).toObject(), edit));
        return;
    }
    if (edit.Name.isEmpty())
        throw TPublisherError(QStringLiteral("a game package is identified by its name"));
    QJsonArray packages = document.value(QStringLiteral("packages")).toArray();
    int found = 0;
    while (found < packages.size() &&
           packages.at(found).toObject().value(QStringLiteral("name")).toString() != edit.Name)
        ++found;
    if (found < packages.size())
        packages.replace(found, editPackage(packages.at(found).toObject(), edit));
    else
        packages.append(editPackage({}, edit));
    document.insert(QStringLiteral("packages"), packages);
}

// A mirror stands for the configuration's folder on another host: launchers need a whole web
// address to find the tree there.
QJsonArray checkedMirrors(const QStringList& Mirrors)
{
    QJsonArray checked;
    for (const QString& mirror : Mirrors) {
        const QUrl url(mirror, QUrl::StrictMode);
        if (!url.isValid() || url.host().isEmpty() ||
            (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
            throw TPublisherError(
                QStringLiteral("mirror '%1' is not an absolute http or https address").arg(mirror));
        checked.append(mirror);
    }
    return checked;
}

} // namespace

QByteArray editLauncherConfiguration(const QByteArray& existing, const TConfigurationEdit& edit)
{
    QJsonObject document;
    if (!existing.trimmed().isEmpty()) {
        QJsonParseError error{};
        const QJsonDocument parsed = QJsonDocument::fromJson(existing, &error);
        if (error.error != QJsonParseError::NoError || !parsed.isObject())
            throw TPublisherError(
                QStringLiteral("the existing launcher configuration is not a JSON object"));
        document = parsed.object();
    }
    if (edit.Package)
        applyPackageEdit(document, *edit.Package);
    const auto setUrl = [&document](const char* key, const std::optional<QString>& value) {
        if (value)
            document.insert(QLatin1String(key), checkedUrl(*value));
    };
    setUrl("hints", edit.HintsUrl);
    setUrl("funnel", edit.FunnelUrl);
    setUrl("hardwaresurvey", edit.HardwareSurveyUrl);
    if (edit.PreventDefaultAutostart)
        document.insert(QStringLiteral("preventdefaultautostart"), *edit.PreventDefaultAutostart);
    if (edit.ShowPackageNames)
        document.insert(QStringLiteral("showpackagenames"), *edit.ShowPackageNames);
    if (edit.Mirrors && edit.Mirrors->isEmpty())
        document.remove(QStringLiteral("mirrors"));
    else if (edit.Mirrors)
        document.insert(QStringLiteral("mirrors"), checkedMirrors(*edit.Mirrors));
    return QJsonDocument(document).toJson(QJsonDocument::Indented);
}

} // namespace orvik::publisher
