#pragma once

#include "shared/container/containercodec.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <vector>

namespace orvik::publisher {

// "stored", "deflate", "lzip", "lzma" or "zpaq"; throws TPublisherError for any other name.
::shared::EContainerCodec codecFromName(const QString& name);
QString codecName(::shared::EContainerCodec codec);

// Which codec packs which file: the first rule whose wildcard pattern matches, else the default.
// A pattern with a "/" is matched against the whole relative path, any other against the file
// name alone, so "*.ogg" finds music in every folder. Already-compressed media gain nothing from a
// second compression.
class TCodecRules
{
public:
    explicit TCodecRules(
        ::shared::EContainerCodec defaultCodec = ::shared::EContainerCodec::Deflate)
        : m_DefaultCodec(defaultCodec)
    {}

    // "PATTERN=CODEC", for example "*.ogg=stored"; throws TPublisherError when malformed.
    void addRule(const QString& rule);
    ::shared::EContainerCodec codecFor(const QString& relativePath) const;

private:
    struct TRule
    {
        QRegularExpression Pattern;
        bool bWholePath;
        ::shared::EContainerCodec Codec;
    };

    ::shared::EContainerCodec m_DefaultCodec;
    std::vector<TRule> m_Rules;
};

} // namespace orvik::publisher
