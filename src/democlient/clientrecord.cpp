#include "clientrecord.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

QByteArray describeStart(const QString& workingDirectory, const QString& libraryPath,
                         const QStringList& arguments)
{
    const QJsonObject start{{"workingDirectory", workingDirectory},
                            {"libraryPath", libraryPath},
                            {"arguments", QJsonArray::fromStringList(arguments)}};
    return QJsonDocument(start).toJson(QJsonDocument::Compact) + '\n';
}

bool recordStart(const QString& executableDirectory, const QByteArray& line)
{
    QFile log(QDir(executableDirectory).filePath(QStringLiteral("democlient-runs.log")));
    return log.open(QIODevice::WriteOnly | QIODevice::Append) && log.write(line) == line.size();
}
