#pragma once

#include "publisher/publish/codecrules.h"
#include "publisher/signing/documentsigner.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace orvik::publisher {

// Everything one publication of a build needs; checked by publishBuild before anything is read.
struct TPublishOptions
{
    QString BuildDirectory;
    QString CdnDirectory;
    // Documents are named "<Name>-<Version>.json" and
    // "<Name>-<Version>-assets-<AssetsVersion>.json": the assets document's chunk indexes continue
    // the package document's chunk list, so equal assets under another package version are another
    // document.
    QString Name = QStringLiteral("package");
    QString Version;
    // Files whose relative path starts with one of these go into the assets document.
    QStringList AssetsPrefixes;
    QString AssetsVersion;
    QString Executable; // relative to the build directory
    QStringList Parameters;
    QString Generation; // "first", "second" or empty
    QString Variant;    // "regular", "preview", "beta", "test" or empty
    TCodecRules Codecs;
    int Threads = 0; // 0: one per core
    // Signs both documents when it holds a key.
    TDocumentSigner Signer;
    // Leaves out symbolic links that lead nowhere, with a warning each, instead of refusing.
    bool SkipBrokenLinks = false;
    // Called once a file's bytes are read and before it is checked for changes: the one moment a
    // writer could slip in unseen, which tests need to reach.
    std::function<void(const QString& relativePath)> AfterFileRead;
};

// Progress for the terminal, one line at a time.
using TProgressReporter = std::function<void(const QString& line)>;

} // namespace orvik::publisher
