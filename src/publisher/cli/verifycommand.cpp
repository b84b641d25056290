#include "publisher/cli/commands.h"

#include "publisher/publishererror.h"
#include "publisher/signing/documentsigner.h"
#include "publisher/verify/treeverifier.h"

#include <QDir>
#include <QFileInfo>

namespace orvik::publisher {

namespace {

// The launcher finds its configuration at launcher/qormetadata.json in the tree, and the builds it
// lists lie beside that folder, not in it.
QString defaultRoot(const QString& document, bool isConfiguration)
{
    const QDir folder = QFileInfo(document).absoluteDir();
    if (isConfiguration && folder.dirName() == QLatin1String("launcher"))
        return QFileInfo(folder.absolutePath()).absolutePath();
    return folder.absolutePath();
}

} // namespace

void declareVerifyOptions(QCommandLineParser& parser)
{
    parser.addOptions({
        {QStringLiteral("package"), QStringLiteral("A package document to check."),
         QStringLiteral("file")},
        {QStringLiteral("assets"), QStringLiteral("The assets document that goes with --package."),
         QStringLiteral("file")},
        {QStringLiteral("configuration"),
         QStringLiteral("A launcher configuration: check every build it lists in this tree."),
         QStringLiteral("file")},
        {QStringLiteral("root"),
         QStringLiteral("The CDN tree every address must lead into (default: the document's "
                        "folder, or the one above for a configuration in launcher/); alone, check "
                        "every document below it."),
         QStringLiteral("dir")},
        {QStringLiteral("public-key"),
         QStringLiteral("Also check each document's signature: the .pub file from keygen, or its "
                        "text."),
         QStringLiteral("key")},
        {QStringLiteral("address"),
         QStringLiteral("With --public-key: the address launchers fetch the configuration from; "
                        "report a configuration they would refuse there."),
         QStringLiteral("url")},
        {QStringLiteral("channel"),
         QStringLiteral("With --public-key: the channel the launchers' settings pin; report a "
                        "configuration they would refuse."),
         QStringLiteral("name")},
    });
}

int runVerify(const TCommandContext& context)
{
    const QCommandLineParser& parser = context.Parser;
    rejectPositionalArguments(parser);
    const QString package = parser.value(QStringLiteral("package"));
    const QString configuration = parser.value(QStringLiteral("configuration"));
    QString root = parser.value(QStringLiteral("root"));
    if (!package.isEmpty() && !configuration.isEmpty())
        throw TPublisherError(QStringLiteral("give --package or --configuration, not both"));
    const QString document = package.isEmpty() ? configuration : package;
    if (document.isEmpty() && root.isEmpty())
        throw TPublisherError(QStringLiteral("give --package, --configuration or --root"));
    if (root.isEmpty())
        root = defaultRoot(document, !configuration.isEmpty());
    if (!QFileInfo(root).isDir())
        throw TPublisherError(QStringLiteral("tree '%1' does not exist").arg(root));

    TTreeVerifier verifier(root);
    if (parser.isSet(QStringLiteral("public-key")))
        verifier.checkSignaturesWith(readPublicKey(parser.value(QStringLiteral("public-key"))));
    const TExpectedPlace place{QUrl(parser.value(QStringLiteral("address")), QUrl::StrictMode),
                               parser.value(QStringLiteral("channel"))};
    if (place.isKnown() && !parser.isSet(QStringLiteral("public-key")))
        throw TPublisherError(QStringLiteral("--address and --channel need --public-key"));
    if (!place.Address.isEmpty() && (!place.Address.isValid() || place.Address.isRelative()))
        throw TPublisherError(QStringLiteral("--address wants an absolute address"));
    verifier.expectPlace(place);
    if (!package.isEmpty())
        verifier.verifyBuild(package, parser.value(QStringLiteral("assets")));
    else if (!configuration.isEmpty())
        verifier.verifyLauncherConfiguration(configuration);
    else
        verifier.verifyTree();

    for (const QString& note : verifier.notes())
        context.Err << "note: " << note << '\n';
    for (const TFault& fault : verifier.faults())
        context.Out << fault.Path << ": " << fault.Reason << '\n';
    context.Out << "documents: " << verifier.documentsChecked() << '\n'
                << "containers: " << verifier.containersChecked() << '\n'
                << "faults: " << verifier.faults().size() << '\n';
    return verifier.faults().empty() ? 0 : 1;
}

} // namespace orvik::publisher
