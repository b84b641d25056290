#include "publisher/publish/codecrules.h"

#include "publisher/publishererror.h"

namespace orvik::publisher {

using ::shared::EContainerCodec;

namespace {

struct TCodecName
{
    const char* Name;
    EContainerCodec Codec;
};

constexpr TCodecName kCodecNames[] = {
    {"stored", EContainerCodec::Stored}, {"deflate", EContainerCodec::Deflate},
    {"lzip", EContainerCodec::Lzip},     {"lzma", EContainerCodec::Lzma},
    {"zpaq", EContainerCodec::Zpaq},
};

} // namespace

EContainerCodec codecFromName(const QString& name)
{
    for (const TCodecName& entry : kCodecNames)
        if (name == QLatin1String(entry.Name))
            return entry.Codec;
    throw TPublisherError(
        QStringLiteral("unknown codec '%1' (stored, deflate, lzip, lzma, zpaq)").arg(name));
}

QString codecName(EContainerCodec codec)
{
    for (const TCodecName& entry : kCodecNames)
        if (codec == entry.Codec)
            return QLatin1String(entry.Name);
    return QStringLiteral("codec%1").arg(int(codec));
}

void TCodecRules::addRule(const QString& rule)
{
    const int separator = rule.lastIndexOf(QLatin1Char('='));
    if (separator <= 0)
        throw TPublisherError(
            QStringLiteral("codec rule '%1' is not of the form PATTERN=CODEC").arg(rule));
    const QString pattern = rule.left(separator);
    TRule parsed{QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern)),
                 pattern.contains(QLatin1Char('/')), codecFromName(rule.mid(separator + 1))};
    if (!parsed.Pattern.isValid())
        throw TPublisherError(QStringLiteral("codec rule '%1' has an invalid pattern").arg(rule));
    m_Rules.push_back(std::move(parsed));
}

EContainerCodec TCodecRules::codecFor(const QString& relativePath) const
{
    const QString fileName = relativePath.mid(relativePath.lastIndexOf(QLatin1Char('/')) + 1);
    for (const TRule& rule : m_Rules)
        if (rule.Pattern.match(rule.bWholePath ? relativePath : fileName).hasMatch())
            return rule.Codec;
    return m_DefaultCodec;
}

} // namespace orvik::publisher
