#include "launcher/logging/logging.h"

#include "launcher/logging/logwriter.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSharedPointer>
#include <QStandardPaths>
#include <QThread>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace orvik::launcher {

namespace {

// The writer outlives every logging call but those of the last static destructors: the handler
// is taken away first, then the writer writes what is queued and ends.
struct TLogging
{
    ~TLogging() { qInstallMessageHandler(nullptr); }
    TLogWriter Writer;
};

TLogging& logging()
{
    static TLogging instance;
    return instance;
}

QString levelText(QtMsgType type, const QString& message)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("Debug: %1").arg(message);
    case QtInfoMsg:
        return QStringLiteral("Info: %1").arg(message);
    case QtWarningMsg:
        return QStringLiteral("Warning: %1").arg(message);
    case QtCriticalMsg:
        return QStringLiteral("Critical: %1").arg(message);
    case QtFatalMsg:
        return QStringLiteral("Fatal: %1").arg(message);
    }
    return message;
}

void writeToLogFile(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    logging().Writer.append((formatLogLine(type, context, message) + QLatin1Char('\n')).toUtf8());
    if (type == QtFatalMsg) {
        logging().Writer.flush();
        std::abort();
    }
}

} // namespace

QString logFilePath()
{
    const QString dataDirectory = QStandardPaths::writableLocation(QStandardPaths::DataLocation);
    const QString executableName = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return QDir::cleanPath(dataDirectory + QDir::separator() + executableName +
                           QStringLiteral(".log"));
}

QString formatLogLine(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QString location =
        QStringLiteral("(%1:%2)").arg(QString::fromUtf8(context.file)).arg(context.line);
    // Formatting the local time costs more than the rest of a line; a busy installation logs
    // hundreds of lines a second, many of them on the GUI thread, so it is done once a second.
    // Plain characters: a line logged by a late static destructor finds them still there.
    thread_local qint64 formattedSecond = -1;
    thread_local char formatted[32] = {};
    const qint64 second = QDateTime::currentMSecsSinceEpoch() / 1000;
    if (second != formattedSecond) {
        const QByteArray text = QDateTime::fromSecsSinceEpoch(second)
                                    .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                                    .toLatin1()
                                    .left(int(sizeof(formatted)) - 1);
        std::memcpy(formatted, text.constData(), size_t(text.size()) + 1);
        formattedSecond = second;
    }
    const QString time = QString::fromLatin1(formatted);
    return QStringLiteral("%1 %2 %3").arg(time, location, levelText(type, message));
}

void setupLogging()
{
    try {
        const QString dataDirectory =
            QStandardPaths::writableLocation(QStandardPaths::DataLocation);
        if (!QDir(dataDirectory).exists() && !QDir().mkpath(dataDirectory))
            throw std::runtime_error("Failed to create subdirectory.");

        auto file = QSharedPointer<QFile>::create(logFilePath());
        // An unopened file makes every write fail silently; the launcher runs on regardless.
        file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text);
        logging().Writer.setFile(file);
        qInstallMessageHandler(writeToLogFile);
    } catch (const std::exception& error) {
        if (*error.what())
            qWarning() << "couldn't setup logging. exception: " << error.what();
        else
            qWarning() << "couldn't setup logging";
    }
}

void flushLog()
{
    logging().Writer.flush();
}

QDebug operator<<(QDebug debug, TThreadSuffix)
{
    debug << " Thread: " << QThread::currentThreadId();
    return debug;
}

} // namespace orvik::launcher
