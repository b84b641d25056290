#include "launcher/telemetry/sharedidentifierfile.h"

#include "launcher/logging/logging.h"
#include "shared/filesystemhelper/filereplacement.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <stdexcept>

namespace orvik::launcher {

namespace {

const QString kSharedDirectoryName = QStringLiteral("Kestrun Online");
// Far above the few dozen bytes of a real file: anything larger is not ours to spread around.
constexpr qint64 kMaximumSize = 64 * 1024;

} // namespace

QString sharedIdentifierFileName()
{
    return QStringLiteral("kestrunShared.json");
}

QString sharedIdentifierFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QLatin1Char('/') + kSharedDirectoryName + QLatin1Char('/') + sharedIdentifierFileName();
}

void writeSharedIdentifierFile(const QString& Identifier)
{
    const QString path = sharedIdentifierFilePath();
    if (!QFileInfo(QFileInfo(path).absolutePath()).isDir())
        return;
    const QJsonObject content{{QStringLiteral("DeviceIdentifier"), Identifier}};
    try {
        ::shared::replaceFileAtomically(path, QJsonDocument(content).toJson());
    } catch (const std::runtime_error& error) {
        qWarning() << "Shared funnel identifier not written:" << error.what() << threadSuffix;
    }
}

void copySharedIdentifierFileInto(const QDir& InstallationDirectory)
{
    QFile source(sharedIdentifierFilePath());
    if (!source.exists())
        return;
    const QString target = InstallationDirectory.filePath(sharedIdentifierFileName());
    try {
        if (!source.open(QIODevice::ReadOnly))
            throw std::runtime_error(source.errorString().toStdString());
        const QByteArray content = source.read(kMaximumSize + 1);
        if (source.error() != QFileDevice::NoError)
            throw std::runtime_error(source.errorString().toStdString());
        if (content.size() > kMaximumSize)
            throw std::runtime_error("the file is far larger than an identifier");
        ::shared::replaceFileAtomically(target, content);
    } catch (const std::runtime_error& error) {
        qWarning() << "Shared funnel identifier not copied to" << target << ":" << error.what()
                   << threadSuffix;
    }
}

} // namespace orvik::launcher
