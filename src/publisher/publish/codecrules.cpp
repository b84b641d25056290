#include "publisher/publish/codecrules.h"

#include "publisher/publishererror.h"

#include <exception>
#include <stdexcept>

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
    {"zpaq", EContainerCodec::Zpaq},     {"zstd", EContainerCodec::Zstd},
};

} // namespace

EContainerCodec codecFromName(const QString& name)
{
    for (const TCodecName& entry : kCodecNames)
        if (name == QLatin1String(entry.Name))
            return entry.Codec;
    throw TPublisherError(
        QStringLiteral("unknown codec '%1' (stored, deflate, lzip, lzma, zpaq, zstd)").arg(name));
}

::shared::TContainerSettings codecSettingsFromText(const QString& Text)
{
    QStringList parts = Text.split(QLatin1Char(':'));
    ::shared::TContainerSettings settings;
    settings.m_eCodec = codecFromName(parts.takeFirst());
    const bool bZstd = settings.m_eCodec == EContainerCodec::Zstd;
    if (bZstd && !parts.isEmpty() && parts.last() == QLatin1String("long")) {
        settings.m_bLongDistance = true;
        parts.removeLast();
    }
    if (parts.size() > 1)
        throw TPublisherError(QStringLiteral("codec '%1' has too many parts").arg(Text));
    if (parts.isEmpty())
        return settings;
    bool bNumber = false;
    settings.m_nLevel = parts.first().toInt(&bNumber);
    // The writer knows every codec's range; packing a probe of one byte asks it now, before the
    // build is read, instead of at the first file.
    try {
        if (!bNumber || settings.m_nLevel < 0)
            throw std::invalid_argument("not a level");
        ::shared::makeContainer(QByteArrayLiteral("k"), settings);
    } catch (const std::exception&) {
        throw TPublisherError(QStringLiteral("codec '%1': '%2' is no level of %3")
                                  .arg(Text, parts.first(), codecName(settings.m_eCodec)));
    }
    return settings;
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
                 pattern.contains(QLatin1Char('/')),
                 codecSettingsFromText(rule.mid(separator + 1))};
    if (!parsed.Pattern.isValid())
        throw TPublisherError(QStringLiteral("codec rule '%1' has an invalid pattern").arg(rule));
    m_Rules.push_back(std::move(parsed));
}

::shared::TContainerSettings TCodecRules::codecFor(const QString& relativePath) const
{
    const QString fileName = relativePath.mid(relativePath.lastIndexOf(QLatin1Char('/')) + 1);
    for (const TRule& rule : m_Rules)
        if (rule.Pattern.match(rule.bWholePath ? relativePath : fileName).hasMatch())
            return rule.Codec;
    return m_DefaultCodec;
}

} // namespace orvik::publisher
