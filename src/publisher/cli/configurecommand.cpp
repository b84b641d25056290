#include "publisher/cli/commands.h"

#include "publisher/configure/launcherconfigurationeditor.h"
#include "publisher/configure/trustbinding.h"
#include "publisher/publishererror.h"
#include "publisher/signing/documentsigner.h"
#include "publisher/store/atomicfile.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace orvik::publisher {

namespace {

std::optional<QString> optionalValue(const QCommandLineParser& parser, const QString& name)
{
    if (!parser.isSet(name))
        return std::nullopt;
    return parser.value(name);
}

std::optional<bool> optionalSwitch(const QCommandLineParser& parser, const QString& name)
{
    if (!parser.isSet(name))
        return std::nullopt;
    const QString value = parser.value(name);
    if (value != QLatin1String("true") && value != QLatin1String("false"))
        throw TPublisherError(QStringLiteral("--%1 wants true or false").arg(name));
    return value == QLatin1String("true");
}

// "OS/ARCH=URL" or "OS/ARCH=URL,ASSETSURL".
TBuildEntry parseBuild(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^([^/=]+)/([^=]+)=([^,]+)(?:,(.+))?$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        throw TPublisherError(
            QStringLiteral("build '%1' is not of the form OS/ARCH=URL[,ASSETSURL]").arg(text));
    return {match.captured(1), match.captured(2), match.captured(3), match.captured(4)};
}

// Every tree a studio signs is signed with the same key: a configuration that names no place
// could be served in another tree's place.
void noteMissingPlace(const TCommandContext& context, const QByteArray& document)
{
    const QJsonObject trust =
        QJsonDocument::fromJson(document).object().value(QLatin1String("trust")).toObject();
    if (!trust.contains(QLatin1String("address")) && !trust.contains(QLatin1String("channel")))
        context.Err << "note: the configuration names neither its address nor a channel "
                       "(--address, --channel): launchers take it wherever it is served, and "
                       "refuse it when their settings pin a channel\n";
}

// What signing takes: the key and what the signed configuration carries.
void declareSigningOptions(QCommandLineParser& parser)
{
    parser.addOptions({
        {QStringLiteral("key"),
         QStringLiteral("Sign the configuration with this private key (from keygen); it then "
                        "pins every document it names, carries a serial and expires."),
         QStringLiteral("file")},
        {QStringLiteral("expires-in"),
         QStringLiteral("With --key: days until launchers refuse the configuration (30)."),
         QStringLiteral("days"), QStringLiteral("30")},
        {QStringLiteral("hints-file"),
         QStringLiteral("With --key: the hints document as served at the hints URL, to pin."),
         QStringLiteral("file")},
        {QStringLiteral("address"),
         QStringLiteral("With --key: the address this configuration is served at; launchers take "
                        "it from there only (kept from the previous one when not given, an empty "
                        "value removes it)."),
         QStringLiteral("url")},
        {QStringLiteral("channel"),
         QStringLiteral("With --key: the channel this configuration belongs to; launchers whose "
                        "settings pin another channel refuse it (kept from the previous one when "
                        "not given, an empty value removes it)."),
         QStringLiteral("name")},
    });
}

} // namespace

void declareConfigureOptions(QCommandLineParser& parser)
{
    parser.addOptions({
        {QStringLiteral("output"),
         QStringLiteral("The launcher configuration document to create or update."),
         QStringLiteral("file")},
        {QStringLiteral("package"),
         QStringLiteral("The game package (by name) to create or update."), QStringLiteral("name")},
        {QStringLiteral("launcher"),
         QStringLiteral("Edit the launcher's own package instead; --package then renames it.")},
        {QStringLiteral("directory-name"), QStringLiteral("The package's installation folder."),
         QStringLiteral("name")},
        {QStringLiteral("logo-link"), QStringLiteral("Opened when the package logo is clicked."),
         QStringLiteral("url")},
        {QStringLiteral("install-automatically"), QStringLiteral("true or false."),
         QStringLiteral("switch")},
        {QStringLiteral("build"),
         QStringLiteral("OS/ARCH=URL[,ASSETSURL]: the documents of one build, relative to the "
                        "configuration or absolute; repeatable."),
         QStringLiteral("build")},
        {QStringLiteral("hints"), QStringLiteral("The hints document's URL."),
         QStringLiteral("url")},
        {QStringLiteral("funnel"), QStringLiteral("The funnel events' URL."),
         QStringLiteral("url")},
        {QStringLiteral("hardware-survey"), QStringLiteral("The hardware survey's URL."),
         QStringLiteral("url")},
        {QStringLiteral("prevent-default-autostart"), QStringLiteral("true or false."),
         QStringLiteral("switch")},
        {QStringLiteral("show-package-names"), QStringLiteral("true or false."),
         QStringLiteral("switch")},
        {QStringLiteral("mirror"),
         QStringLiteral("Another address of the folder this configuration is served from, whose "
                        "host serves the same tree; repeatable, replaces the list (an empty value "
                        "removes it)."),
         QStringLiteral("url")},
    });
    declareSigningOptions(parser);
}

int runConfigure(const TCommandContext& context)
{
    const QCommandLineParser& parser = context.Parser;
    rejectPositionalArguments(parser);
    const QString output = requiredValue(parser, QStringLiteral("output"));
    const TDocumentSigner signer =
        TDocumentSigner::fromKeyFile(parser.value(QStringLiteral("key")));

    TConfigurationEdit edit;
    const bool launcher = parser.isSet(QStringLiteral("launcher"));
    if (launcher || parser.isSet(QStringLiteral("package"))) {
        TPackageEdit package;
        package.bLauncher = launcher;
        package.Name = parser.value(QStringLiteral("package"));
        package.DirectoryName = optionalValue(parser, QStringLiteral("directory-name"));
        package.LogoLinkTarget = optionalValue(parser, QStringLiteral("logo-link"));
        package.InstallAutomatically =
            optionalSwitch(parser, QStringLiteral("install-automatically"));
        for (const QString& build : parser.values(QStringLiteral("build")))
            package.Builds.push_back(parseBuild(build));
        edit.Package = package;
    } else if (parser.isSet(QStringLiteral("build")) ||
               parser.isSet(QStringLiteral("directory-name"))) {
        throw TPublisherError(QStringLiteral("package settings need --package or --launcher"));
    }
    edit.HintsUrl = optionalValue(parser, QStringLiteral("hints"));
    edit.FunnelUrl = optionalValue(parser, QStringLiteral("funnel"));
    edit.HardwareSurveyUrl = optionalValue(parser, QStringLiteral("hardware-survey"));
    edit.PreventDefaultAutostart =
        optionalSwitch(parser, QStringLiteral("prevent-default-autostart"));
    edit.ShowPackageNames = optionalSwitch(parser, QStringLiteral("show-package-names"));
    if (parser.isSet(QStringLiteral("mirror"))) {
        QStringList mirrors = parser.values(QStringLiteral("mirror"));
        mirrors.removeAll(QString());
        edit.Mirrors = mirrors;
    }

    QByteArray existing;
    QFile file(output);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly))
            throw TPublisherError(
                QStringLiteral("cannot read '%1': %2").arg(output, file.errorString()));
        existing = file.readAll();
    }
    QByteArray document = editLauncherConfiguration(existing, edit);
    if (signer.isSigning()) {
        TTrustOptions trust;
        trust.Now = QDateTime::currentDateTimeUtc();
        bool valid = false;
        trust.ExpiresInDays = parser.value(QStringLiteral("expires-in")).toInt(&valid);
        if (!valid)
            throw TPublisherError(QStringLiteral("--expires-in wants a number of days"));
        trust.HintsFile = parser.value(QStringLiteral("hints-file"));
        trust.Address = optionalValue(parser, QStringLiteral("address"));
        trust.Channel = optionalValue(parser, QStringLiteral("channel"));
        document = bindDocuments(document, existing, output, trust);
        noteMissingPlace(context, document);
    } else if (parser.isSet(QStringLiteral("address")) || parser.isSet(QStringLiteral("channel"))) {
        // Only a signed configuration can vouch for where it belongs.
        throw TPublisherError(QStringLiteral("--address and --channel need --key"));
    } else {
        document = withoutTrust(document);
    }
    const bool changed = document != existing;
    if (changed)
        writeFileAtomically(output, document);
    context.Out << "configuration: " << output << (changed ? " (written)" : " (unchanged)") << '\n';
    if (signer.isSigning())
        context.Out << "signature: " << output << ".sig"
                    << (signer.signFile(output, document) ? " (written)" : " (unchanged)") << '\n';
    return 0;
}

} // namespace orvik::publisher
