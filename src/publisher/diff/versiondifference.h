#pragma once

#include "launcher/configuration/packageconfigurationreader.h"

namespace orvik::publisher {

// What updating from one published version to another costs a client that holds the old one
// intact, counted the way the launcher plans: a file of fewer than two chunks is fetched whole
// unless the old version holds its content in any file; a chunked file fetches the chunks the
// old version holds nowhere; each distinct piece is fetched once.
struct TVersionDifference
{
    int FilesAdded = 0;
    int FilesChanged = 0;
    int FilesUnchanged = 0;
    int FilesDeleted = 0;
    int PiecesToFetch = 0;
    TFileSize PackedBytesToFetch = 0;
    TFileSize UnpackedBytesToFetch = 0;
    // What a fresh installation of the new version fetches, to put the update in proportion.
    int PiecesOfNewVersion = 0;
    TFileSize PackedBytesOfNewVersion = 0;
};

TVersionDifference diffVersions(const launcher::TPackageConfigurationReader& oldVersion,
                                const launcher::TPackageConfigurationReader& newVersion);

} // namespace orvik::publisher
