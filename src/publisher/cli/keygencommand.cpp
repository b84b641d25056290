#include "publisher/cli/commands.h"

#include "publisher/signing/documentsigner.h"

namespace orvik::publisher {

void declareKeygenOptions(QCommandLineParser& parser)
{
    parser.addOptions({
        {QStringLiteral("output"),
         QStringLiteral("The private key file to create; the public key goes to <file>.pub."),
         QStringLiteral("file")},
    });
}

int runKeygen(const TCommandContext& context)
{
    const QCommandLineParser& parser = context.Parser;
    rejectPositionalArguments(parser);
    const QString output = requiredValue(parser, QStringLiteral("output"));
    const QByteArray publicKey = generateKeyFiles(output);
    context.Out << "private-key: " << output << '\n'
                << "public-key-file: " << output << ".pub\n"
                << "public-key: " << publicKey << '\n';
    return 0;
}

} // namespace orvik::publisher
