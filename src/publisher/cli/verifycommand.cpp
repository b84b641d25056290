#include "publisher/cli/commands.h"

#include "publisher/publishererror.h"
#include "publisher/signing/documentsigner.h"
#include "publisher/verify/treeverifier.h"

#include <QFileInfo>

namespace orvik::publisher {

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
         QStringLiteral("The CDN tree containers must lie in (default: the document's folder); "
                        "alone, check every document in its root."),
         QStringLiteral("dir")},
        {QStringLiteral("public-key"),
         QStringLiteral("Also check each document's signature: the .pub file from keygen, or its "
                        "text."),
         QStringLiteral("key")},
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
        root = QFileInfo(document).absolutePath();
    if (!QFileInfo(root).isDir())
        throw TPublisherError(QStringLiteral("tree '%1' does not exist").arg(root));

    TTreeVerifier verifier(root);
    if (parser.isSet(QStringLiteral("public-key")))
        verifier.checkSignaturesWith(readPublicKey(parser.value(QStringLiteral("public-key"))));
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
