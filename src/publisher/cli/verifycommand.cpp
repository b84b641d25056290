#include "publisher/cli/commands.h"

#include "publisher/publishererror.h"
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
         QStringLiteral("The CDN tree containers must lie in (default: the document's folder)."),
         QStringLiteral("dir")},
    });
}

int runVerify(const TCommandContext& context)
{
    const QCommandLineParser& parser = context.Parser;
    rejectPositionalArguments(parser);
    const QString package = parser.value(QStringLiteral("package"));
    const QString configuration = parser.value(QStringLiteral("configuration"));
    if (package.isEmpty() == configuration.isEmpty())
        throw TPublisherError(QStringLiteral("give either --package or --configuration"));
    const QString document = package.isEmpty() ? configuration : package;
    QString root = parser.value(QStringLiteral("root"));
    if (root.isEmpty())
        root = QFileInfo(document).absolutePath();
    if (!QFileInfo(root).isDir())
        throw TPublisherError(QStringLiteral("tree '%1' does not exist").arg(root));

    TTreeVerifier verifier(root);
    if (package.isEmpty())
        verifier.verifyLauncherConfiguration(configuration);
    else
        verifier.verifyBuild(package, parser.value(QStringLiteral("assets")));

    for (const TFault& fault : verifier.faults())
        context.Out << fault.Path << ": " << fault.Reason << '\n';
    context.Out << "documents: " << verifier.documentsChecked() << '\n'
                << "containers: " << verifier.containersChecked() << '\n'
                << "faults: " << verifier.faults().size() << '\n';
    return verifier.faults().empty() ? 0 : 1;
}

} // namespace orvik::publisher
