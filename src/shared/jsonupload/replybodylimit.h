#pragma once

#include <QString>

class QNetworkReply;

namespace shared {

// The answers of the telemetry services are a few bytes of JSON; this is ample for them.
constexpr qint64 kMaxUploadReplyBytes = 4 * 1024;

// Keeps at most MaxBytes of pReply's body. The body is checked as it arrives, and a reply that
// declares or delivers more is aborted, so an endless answer cannot fill the memory: a reply
// left to itself holds its whole body until it is read. The request must have accepted only
// identity (setAcceptedEncoding): a body in any other encoding is aborted unread.
void limitReplyBody(QNetworkReply* pReply, qint64 MaxBytes);

// Why limitReplyBody aborted pReply; empty when it did not.
QString replyBodyLimitError(const QNetworkReply* pReply);

} // namespace shared
