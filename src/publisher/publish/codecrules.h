#pragma once

#include "shared/container/containercodec.h"
#include "shared/container/containerwriter.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <vector>

namespace orvik::publisher {

// "stored", "deflate", "lzip", "lzma", "zpaq" or "zstd"; throws TPublisherError for any other
// name.
::shared::EContainerCodec codecFromName(const QString& name);
QString codecName(::shared::EContainerCodec codec);

// A codec name, optionally followed by ":LEVEL" and, for zstd, ":long" for long-distance
// matching: "lzma", "deflate:9", "zstd:19:long", "zstd:long". Throws TPublisherError for a name,
// level or switch the codec does not take.
::shared::TContainerSettings codecSettingsFromText(const QString& Text);

// Which codec packs which file: the first rule whose wildcard pattern matches, else the default.
// A pattern with a "/" is matched against the whole relative path, any other against the file
// name alone, so "*.ogg" finds music in every folder. Already-compressed media gain nothing from a
// second compression.
class TCodecRules
{
public:
    explicit TCodecRules(
        ::shared::EContainerCodec defaultCodec = ::shared::EContainerCodec::Deflate)
        : m_DefaultCodec{defaultCodec}
    {}
    explicit TCodecRules(const ::shared::TContainerSettings& DefaultCodec)
        : m_DefaultCodec(DefaultCodec)
    {}

    // "PATTERN=CODEC", for example "*.ogg=stored" or "*.pak=zstd:19:long"; throws
    // TPublisherError when malformed.
    void addRule(const QString& rule);
    ::shared::TContainerSettings codecFor(const QString& relativePath) const;

private:
    struct TRule
    {
        QRegularExpression Pattern;
        bool bWholePath;
        ::shared::TContainerSettings Codec;
    };

    ::shared::TContainerSettings m_DefaultCodec;
    std::vector<TRule> m_Rules;
};

} // namespace orvik::publisher
