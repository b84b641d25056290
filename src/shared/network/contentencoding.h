#pragma once

#include <QByteArray>
#include <QString>

class QNetworkRequest;

namespace shared {

// What a request lets the server compress its answer with. Qt's manager asks for gzip and
// deflate by itself when a request names nothing, and then inflates the answer on its own thread
// without any bound, before a limit of the launcher sees a byte: a few megabytes of gzip become
// gigabytes. So every request names what it accepts, and only the launcher inflates.
enum class EAcceptedEncoding {
    // The bytes as they are: answers that are short, or compressed containers already.
    Identity,
    // Gzip, inflated by the launcher under the answer's limit: documents that compress well.
    Gzip,
};

void setAcceptedEncoding(QNetworkRequest& Request, EAcceptedEncoding Accepted);

// How to read a body, judged by its Content-Encoding against what the request accepted.
struct TBodyEncoding
{
    bool bGzip = false;
    // Not empty: the body must not be read at all, for this reason.
    QString Refusal;
};

TBodyEncoding judgeContentEncoding(const QByteArray& ContentEncoding, EAcceptedEncoding Accepted);

} // namespace shared
