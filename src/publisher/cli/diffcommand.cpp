#include "publisher/cli/commands.h"

#include "publisher/diff/versiondifference.h"
#include "publisher/documents/documentloader.h"
#include "publisher/publishererror.h"

namespace orvik::publisher {

void declareDiffOptions(QCommandLineParser& parser)
{
    parser.addOptions({
        {QStringLiteral("old"), QStringLiteral("The package document the client holds."),
         QStringLiteral("file")},
        {QStringLiteral("old-assets"), QStringLiteral("Its assets document."),
         QStringLiteral("file")},
        {QStringLiteral("new"), QStringLiteral("The package document to update to."),
         QStringLiteral("file")},
        {QStringLiteral("new-assets"), QStringLiteral("Its assets document."),
         QStringLiteral("file")},
    });
}

int runDiff(const TCommandContext& context)
{
    const QCommandLineParser& parser = context.Parser;
    rejectPositionalArguments(parser);
    const auto oldVersion = loadBuildDocuments(requiredValue(parser, QStringLiteral("old")),
                                               parser.value(QStringLiteral("old-assets")));
    const auto newVersion = loadBuildDocuments(requiredValue(parser, QStringLiteral("new")),
                                               parser.value(QStringLiteral("new-assets")));
    const TVersionDifference difference = diffVersions(oldVersion, newVersion);
    context.Out << "from: " << oldVersion.versionLabel() << '\n'
                << "to: " << newVersion.versionLabel() << '\n'
                << "files-added: " << difference.FilesAdded << '\n'
                << "files-changed: " << difference.FilesChanged << '\n'
                << "files-unchanged: " << difference.FilesUnchanged << '\n'
                << "files-deleted: " << difference.FilesDeleted << '\n'
                << "pieces-to-fetch: " << difference.PiecesToFetch << " of "
                << difference.PiecesOfNewVersion << '\n'
                << "packed-bytes-to-fetch: " << difference.PackedBytesToFetch << " of "
                << difference.PackedBytesOfNewVersion << '\n'
                << "unpacked-bytes-to-fetch: " << difference.UnpackedBytesToFetch << '\n';
    return 0;
}

} // namespace orvik::publisher
