#include "publisher/cli/commands.h"

#include "publisher/publish/buildpublisher.h"
#include "publisher/publishererror.h"

namespace orvik::publisher {

void declarePublishOptions(QCommandLineParser& parser)
{
    parser.addOptions({
        {QStringLiteral("build"), QStringLiteral("The build directory."), QStringLiteral("dir")},
        {QStringLiteral("cdn"), QStringLiteral("The CDN directory to publish into."),
         QStringLiteral("dir")},
        {QStringLiteral("name"),
         QStringLiteral("Document name prefix: <name>-<version>.json (default package)."),
         QStringLiteral("name"), QStringLiteral("package")},
        {QStringLiteral("package-version"), QStringLiteral("The package version."),
         QStringLiteral("version")},
        {QStringLiteral("executable"),
         QStringLiteral("The program to start, relative to the build directory."),
         QStringLiteral("path")},
        {QStringLiteral("parameter"), QStringLiteral("A start parameter; repeat in order."),
         QStringLiteral("argument")},
        {QStringLiteral("generation"), QStringLiteral("first or second."),
         QStringLiteral("generation")},
        {QStringLiteral("variant"), QStringLiteral("regular, preview, beta or test."),
         QStringLiteral("variant")},
        {QStringLiteral("assets-prefix"),
         QStringLiteral("Files under this path prefix go into the assets document; repeatable."),
         QStringLiteral("prefix")},
        {QStringLiteral("assets-version"), QStringLiteral("The assets document's version."),
         QStringLiteral("version")},
        {QStringLiteral("codec"),
         QStringLiteral("stored, deflate, lzip, lzma, zpaq or zstd (default deflate), with "
                        ":LEVEL and for zstd :long (long-distance matching), e.g. zstd:19:long."),
         QStringLiteral("codec"), QStringLiteral("deflate")},
        {QStringLiteral("codec-rule"),
         QStringLiteral("PATTERN=CODEC for matching files, e.g. *.ogg=stored; first match wins."),
         QStringLiteral("rule")},
        {QStringLiteral("threads"), QStringLiteral("Packing threads (default: one per core)."),
         QStringLiteral("count"), QStringLiteral("0")},
        {QStringLiteral("key"),
         QStringLiteral("Sign both documents with this private key (from keygen)."),
         QStringLiteral("file")},
        {QStringLiteral("skip-broken-links"),
         QStringLiteral("Leave out symbolic links that lead nowhere, with a warning each, "
                        "instead of refusing the build.")},
    });
}

int runPublish(const TCommandContext& context)
{
    const QCommandLineParser& parser = context.Parser;
    rejectPositionalArguments(parser);
    TPublishOptions options;
    options.BuildDirectory = requiredValue(parser, QStringLiteral("build"));
    options.CdnDirectory = requiredValue(parser, QStringLiteral("cdn"));
    options.Name = parser.value(QStringLiteral("name"));
    options.Version = requiredValue(parser, QStringLiteral("package-version"));
    options.Executable = requiredValue(parser, QStringLiteral("executable"));
    options.Parameters = parser.values(QStringLiteral("parameter"));
    options.Generation = parser.value(QStringLiteral("generation"));
    options.Variant = parser.value(QStringLiteral("variant"));
    options.AssetsPrefixes = parser.values(QStringLiteral("assets-prefix"));
    options.AssetsVersion = parser.value(QStringLiteral("assets-version"));
    options.Codecs = TCodecRules(codecSettingsFromText(parser.value(QStringLiteral("codec"))));
    for (const QString& rule : parser.values(QStringLiteral("codec-rule")))
        options.Codecs.addRule(rule);
    options.Signer = TDocumentSigner::fromKeyFile(parser.value(QStringLiteral("key")));
    options.SkipBrokenLinks = parser.isSet(QStringLiteral("skip-broken-links"));
    bool threadsValid = false;
    options.Threads = parser.value(QStringLiteral("threads")).toInt(&threadsValid);
    if (!threadsValid || options.Threads < 0)
        throw TPublisherError(QStringLiteral("--threads wants a count"));

    const TPublishResult result = publishBuild(options, [&context](const QString& line) {
        context.Err << line << '\n';
        context.Err.flush();
    });
    QTextStream& out = context.Out;
    out << "package-document: " << result.PackageDocument << '\n';
    if (!result.AssetsDocument.isEmpty())
        out << "assets-document: " << result.AssetsDocument << '\n';
    out << "files: " << result.Files << '\n'
        << "pieces: " << result.Pieces << '\n'
        << "containers-written: " << result.ContainersWritten << '\n'
        << "containers-kept: " << result.ContainersKept << '\n'
        << "documents-written: " << result.DocumentsWritten << '\n'
        << "signatures-written: " << result.SignaturesWritten << '\n'
        << "bytes-read: " << result.BytesRead << '\n'
        << "packed-bytes: " << result.PackedBytes << '\n'
        << "bytes-written: " << result.BytesWritten << '\n';
    return 0;
}

} // namespace orvik::publisher
