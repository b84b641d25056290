#pragma once

#include <QDebug>
#include <QString>

namespace orvik::launcher {

// Opens "<executable>.log" in the per-user data directory, truncated, and routes every Qt message
// into it. Failures are logged and tolerated: the launcher runs on without a log file.
void setupLogging();

// Returns once every line logged so far is in the file: lines are written on a thread of their own.
void flushLog();
// Where setupLogging writes, also usable before it ran.
QString logFilePath();

// One log line as it is written, without the line end.
QString formatLogLine(QtMsgType type, const QMessageLogContext& context, const QString& message);

// Ends an operational message with the calling thread, so lines from pool threads can be told
// apart.
struct TThreadSuffix
{
};
inline constexpr TThreadSuffix threadSuffix{};
QDebug operator<<(QDebug debug, TThreadSuffix);

} // namespace orvik::launcher
