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
};

// Progress for the terminal, one line at a time.
using TProgressReporter = std::function<void(const QString& line)>;

} // namespace orvik::publisher
