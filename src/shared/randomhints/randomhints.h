#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QString>

#include <optional>
#include <vector>

namespace shared {

// One news item of the hints document.
struct THint
{
    QString Title;
    QString RichText; // with the link style in front
    QString ImageUrl;
    QString Category;
    QString Url;
    QDateTime DisplayAfter; // invalid: no lower bound
    QDateTime DisplayUntil; // invalid: no upper bound
    bool HasEmergencyFlag = false;
    bool Emergency = false;
};

// The hints of a document, in document order. Hints without text are dropped; a document that is
// not JSON gives a warning and no hints.
std::vector<THint> parseHints(const QByteArray& Data);

// The hint to show now: an emergency first; else the first one with a time window that is open
// now; else one of the open-ended ones, varying with the time. None when nothing is displayable.
std::optional<THint> chooseHintToDisplay(const std::vector<THint>& Hints, const QDateTime& NowUtc);

} // namespace shared

Q_DECLARE_METATYPE(shared::THint)
Q_DECLARE_METATYPE(std::vector<shared::THint>)
