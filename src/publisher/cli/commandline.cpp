#include "publisher/cli/commandline.h"

#include "publisher/cli/commands.h"
#include "publisher/publishererror.h"

#include <exception>

namespace orvik::publisher {

namespace {

struct TCommand
{
    const char* Name;
    const char* Summary;
    void (*Declare)(QCommandLineParser&);
    int (*Run)(const TCommandContext&);
};

const TCommand kCommands[] = {
    {"publish", "cut a build into containers and write its package and assets documents",
     declarePublishOptions, runPublish},
    {"configure", "write or update the launcher configuration document", declareConfigureOptions,
     runConfigure},
    {"verify", "check published documents and every container they list", declareVerifyOptions,
     runVerify},
    {"diff", "what a client holding one version fetches to update to another", declareDiffOptions,
     runDiff},
    {"keygen", "make the key pair that signs documents for launchers that check them",
     declareKeygenOptions, runKeygen},
};

QString overview()
{
    QString text = QStringLiteral("Usage: kestrun-publish <command> [options]\n"
                                  "Publishes game builds as a tree the launcher installs from.\n\n"
                                  "Commands:\n");
    for (const TCommand& command : kCommands)
        text += QStringLiteral("  %1  %2\n")
                    .arg(QLatin1String(command.Name), -10)
                    .arg(QLatin1String(command.Summary));
    text += QStringLiteral("\nOptions:\n  -h, --help     this text; after a command, its options\n"
                           "  -v, --version  the version\n");
    return text;
}

int runCommand(const TCommand& command, const QStringList& arguments, QTextStream& out,
               QTextStream& err)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QLatin1String(command.Summary));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    command.Declare(parser);
    QStringList commandArguments = arguments.mid(2);
    commandArguments.prepend(arguments.at(0) + QLatin1Char(' ') + arguments.at(1));
    if (!parser.parse(commandArguments))
        throw TPublisherError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        // Qt names the program by its full path and without the command.
        QString help = parser.helpText();
        help.replace(
            0, help.indexOf(QLatin1Char('\n')),
            QStringLiteral("Usage: kestrun-publish %1 [options]").arg(QLatin1String(command.Name)));
        out << help;
        return 0;
    }
    return command.Run({parser, out, err});
}

} // namespace

QString publisherVersion()
{
    return QStringLiteral(KESTRUN_VERSION);
}

void rejectPositionalArguments(const QCommandLineParser& parser)
{
    if (!parser.positionalArguments().isEmpty())
        throw TPublisherError(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
}

QString requiredValue(const QCommandLineParser& parser, const QString& name)
{
    const QString value = parser.value(name);
    if (value.isEmpty())
        throw TPublisherError(QStringLiteral("missing --%1").arg(name));
    return value;
}

int runCommandLine(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    const QString first = arguments.value(1);
    if (first.isEmpty() || first == QLatin1String("-h") || first == QLatin1String("--help")) {
        (first.isEmpty() ? err : out) << overview();
        return first.isEmpty() ? 2 : 0;
    }
    if (first == QLatin1String("-v") || first == QLatin1String("--version")) {
        out << "kestrun-publish " << publisherVersion() << '\n';
        return 0;
    }
    for (const TCommand& command : kCommands) {
        if (first != QLatin1String(command.Name))
            continue;
        try {
            return runCommand(command, arguments, out, err);
        } catch (const std::exception& error) {
            out.flush();
            err << "kestrun-publish " << first << ": "
                << QString::fromUtf8(error.what()).simplified() << '\n';
            return 1;
        }
    }
    err << "kestrun-publish: unknown command '" << first
        << "' (publish, configure, verify, diff, keygen)\n";
    return 2;
}

} // namespace orvik::publisher
