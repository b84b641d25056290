#include "shared/randomhints/randomhints.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace shared {

namespace {

const QString kLinkStyle = QStringLiteral("<style>a { color: #c0c0c0; }</style>");

QDateTime dateTime(const QJsonObject& object, const char* key)
{
    return QDateTime::fromString(object.value(QLatin1String(key)).toString(), Qt::ISODate);
}

THint readHint(const QJsonObject& object)
{
    THint hint;
    hint.Title = object.value(QLatin1String("title")).toString();
    hint.RichText = object.value(QLatin1String("richText")).toString();
    hint.ImageUrl = object.value(QLatin1String("imageUrl")).toString();
    hint.Category = object.value(QLatin1String("category")).toString();
    hint.Url = object.value(QLatin1String("url")).toString();
    hint.DisplayAfter = dateTime(object, "displayAfter");
    hint.DisplayUntil = dateTime(object, "displayUntil");
    hint.HasEmergencyFlag = object.contains(QLatin1String("emergency"));
    hint.Emergency = object.value(QLatin1String("emergency")).toBool();
    return hint;
}

bool isOpenAt(const THint& hint, const QDateTime& now)
{
    const bool started = !hint.DisplayAfter.isValid() || !(now < hint.DisplayAfter);
    const bool notEnded = !hint.DisplayUntil.isValid() || !(hint.DisplayUntil < now);
    return started && notEnded;
}

} // namespace

std::vector<THint> parseHints(const QByteArray& Data)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(Data, &error);
    if (error.error != QJsonParseError::NoError) {
        qWarning() << "Could not parse hints file at offset" << error.offset << ":"
                   << error.errorString();
        return {};
    }

    std::vector<THint> hints;
    for (const QJsonValue& element : document.array()) {
        THint hint = readHint(element.toObject());
        if (hint.RichText.isEmpty())
            continue;
        hint.RichText.prepend(kLinkStyle);
        hints.push_back(std::move(hint));
    }
    return hints;
}

std::optional<THint> chooseHintToDisplay(const std::vector<THint>& Hints, const QDateTime& NowUtc)
{
    for (const THint& hint : Hints) {
        if (hint.HasEmergencyFlag && hint.Emergency)
            return hint;
    }

    // A hint that says "emergency": false is meant for the list only.
    std::vector<const THint*> candidates;
    for (const THint& hint : Hints) {
        if (!hint.HasEmergencyFlag && isOpenAt(hint, NowUtc))
            candidates.push_back(&hint);
    }
    if (candidates.empty())
        return std::nullopt;

    for (const THint* hint : candidates) {
        if (hint->DisplayAfter.isValid() || hint->DisplayUntil.isValid())
            return *hint;
    }
    const auto position = static_cast<quint64>(NowUtc.toMSecsSinceEpoch()) % candidates.size();
    return *candidates[position];
}

} // namespace shared
