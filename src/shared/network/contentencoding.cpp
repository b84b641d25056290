#include "shared/network/contentencoding.h"

#include <QList>
#include <QNetworkRequest>

namespace shared {

void setAcceptedEncoding(QNetworkRequest& Request, EAcceptedEncoding Accepted)
{
    Request.setRawHeader("Accept-Encoding",
                         Accepted == EAcceptedEncoding::Gzip ? "gzip" : "identity");
}

TBodyEncoding judgeContentEncoding(const QByteArray& ContentEncoding, EAcceptedEncoding Accepted)
{
    // Codings apply in the order listed; "identity" changes nothing wherever it stands.
    QList<QByteArray> codings;
    for (const QByteArray& coding : ContentEncoding.split(',')) {
        const QByteArray name = coding.trimmed().toLower();
        if (!name.isEmpty() && name != "identity")
            codings.append(name);
    }
    TBodyEncoding result;
    if (codings.isEmpty())
        return result;
    // "x-gzip" is gzip by an older name that servers still send.
    if (Accepted == EAcceptedEncoding::Gzip && codings.size() == 1 &&
        (codings.first() == "gzip" || codings.first() == "x-gzip")) {
        result.bGzip = true;
        return result;
    }
    result.Refusal = QStringLiteral("The answer is encoded as \"%1\", which was not asked for")
                         .arg(QString::fromLatin1(ContentEncoding.trimmed().left(64)));
    return result;
}

} // namespace shared
