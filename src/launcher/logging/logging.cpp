#include "launcher/logging/logging.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QSharedPointer>
#include <QStandardPaths>
#include <QTextStream>
#include <QThread>

#include <cstdlib>
#include <stdexcept>

namespace orvik::launcher {

namespace {

QSharedPointer<QFile>& logFile()
{
    static QSharedPointer<QFile> file;
    return file;
}

QMutex& logMutex()
{
    static QMutex mutex;
    return mutex;
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
    const QString line = formatLogLine(type, context, message);
    {
        QMutexLocker lock(&logMutex());
        if (QFile* file = logFile().data()) {
            QTextStream stream(file);
            stream << line << Qt::endl;
        }
    }
    if (type == QtFatalMsg)
        std::abort();
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
    const QString time =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
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
        {
            QMutexLocker lock(&logMutex());
            logFile() = file;
        }
        // An unopened file makes every write fail silently; the launcher runs on regardless.
        file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text);
        qInstallMessageHandler(writeToLogFile);
    } catch (const std::exception& error) {
        if (*error.what())
            qWarning() << "couldn't setup logging. exception: " << error.what();
        else
            qWarning() << "couldn't setup logging";
    }
}

QDebug operator<<(QDebug debug, TThreadSuffix)
{
    debug << " Thread: " << QThread::currentThreadId();
    return debug;
}

} // namespace orvik::launcher
